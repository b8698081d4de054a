#pragma once

#include <QByteArray>
#include <QtGlobal>

/// One fault of the simulated card, set in the environment for the lifetime
/// of the object. The card library reads it at the next call it affects.
class CardFault {
public:
    CardFault(const char* name, const QByteArray& value) : m_name(name) { qputenv(name, value); }
    ~CardFault() { qunsetenv(m_name); }
    CardFault(const CardFault&) = delete;
    CardFault& operator=(const CardFault&) = delete;

private:
    const char* m_name;
};
