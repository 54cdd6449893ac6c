#pragma once
// Fresh random identifiers (version 4 UUIDs) for document IDs, imprint names and the like.
// Thread-safe; never fail.
#include <QByteArray>
#include <QString>

// A new UUID as 36 upper-case characters with hyphens and no braces,
// "1B4E28BA-2FA1-11D2-883F-0016D3CCA427".
QString kvFreshIdentifier();

// The 16 bytes of a new UUID in network byte order.
QByteArray kvFreshIdentifierBytes();
