#pragma once

#include <QObject>
#include <QString>

namespace Merchalog {

// The file every record source names: "database.mdb" (resolved against the working
// directory) at start, then whatever catalogue the user opens or creates. Record sources
// created later name it from the start; existing ones follow it from their next refresh.
class CurrentCatalogue final : public QObject
{
    Q_OBJECT
public:
    static constexpr QLatin1StringView startName{"database.mdb"};

    static CurrentCatalogue &instance();

    QString databaseName() const { return m_databaseName; }
    // Makes another file the current catalogue of every record source.
    void setDatabaseName(const QString &name);

Q_SIGNALS:
    void databaseNameChanged(const QString &name);

private:
    CurrentCatalogue() = default;
    QString m_databaseName = QString(startName);
};

} // namespace Merchalog
