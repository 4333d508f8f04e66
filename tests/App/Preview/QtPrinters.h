#pragma once
// GoogleTest prints Qt strings as text, not as arrays of code units.

#include <ostream>

#include <QString>
#include <QStringList>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* out)
{
    *out << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << '{';
    for (const QString& s : list)
        *out << ' ' << s.toStdString();
    *out << " }";
}
QT_END_NAMESPACE
