#pragma once
// Ordering of strings in which runs of digits compare by numeric value, so generated names sort
// the way a person counts: "Im2" < "Im10", "a1b2" < "a1b10". Pure, thread-safe, never fails.
#include <QString>

// Answers -1, 0 or 1 as a sorts before, equal to, or after b.
//
// Both strings are read as a sequence of items: a maximal run of ASCII digits '0'-'9' is one
// number, every other UTF-16 code unit is one item on its own (other scripts' digits included).
// Items compare in turn: two numbers by value (leading zeros ignored; runs of any length, no
// overflow), a number against any other unit as its first digit would, and two other units by
// code unit, so case matters ("B" < "a"). A string that runs out first sorts first.
//
// When every item is equal the strings differ only in leading zeros ("007" against "7"); the
// first number whose run is shorter sorts first ("7" < "07" < "007"). So 0 means the strings
// are identical, and the ordering is total and consistent, as std::sort requires.
int compareNumeric(const QString &a, const QString &b);
