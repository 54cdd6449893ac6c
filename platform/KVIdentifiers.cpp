#include "KVIdentifiers.h"

#include <QUuid>

QString kvFreshIdentifier() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); }

QByteArray kvFreshIdentifierBytes() { return QUuid::createUuid().toRfc4122(); }
