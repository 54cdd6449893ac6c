#pragma once
// The engine's three failures. Each carries a fixed reason text and is caught only at the
// engine's recovery points (open, cross-reference read, page write, page text, image
// recompression); the API above the engine never sees them.
#include <stdexcept>
#include <string>

class FolivoException : public std::runtime_error {
public:
    FolivoException(const char *name, const std::string &reason) : std::runtime_error(reason), m_name(name) { }
    const char *name() const noexcept { return m_name; }
    std::string reason() const { return what(); }

private:
    const char *m_name;
};

// The bytes do not have the syntax the parser expects.
class FolivoParseFailure : public FolivoException {
public:
    explicit FolivoParseFailure(const std::string &reason) : FolivoException("FolivoParseFailure", reason) { }
};

// A programming contract was broken.
class FolivoLogicFailure : public FolivoException {
public:
    explicit FolivoLogicFailure(const std::string &reason) : FolivoException("FolivoLogicFailure", reason) { }
};

// Decoded data has a shape the engine cannot use.
class FolivoLogicError : public FolivoException {
public:
    explicit FolivoLogicError(const std::string &reason) : FolivoException("FolivoLogicError", reason) { }
};
