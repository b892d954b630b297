#pragma once

// The Access catalogue the tests read (tests/data/jet/catalogue.json), written by
// tools/jetwriter in either version.

#include "jetwriter.h"

#include <QFile>
#include <QString>
#include <QtDebug>

namespace Merchalog::Test {

inline QList<JetWriter::Table> jetFixture()
{
    QFile file(QStringLiteral(MERCHALOG_TEST_DATA "/jet/catalogue.json"));
    QString error;
    const auto tables = file.open(QIODevice::ReadOnly) ? JetWriter::tablesFromJson(file.readAll(), &error)
                                                       : QList<JetWriter::Table>();
    if (tables.isEmpty())
        qWarning() << "catalogue.json:" << error;
    return tables;
}

// Writes tables into a new file at path; returns false (and says why) when it cannot.
inline bool writeJetFile(const QList<JetWriter::Table> &tables, const JetWriter::Options &options, const QString &path)
{
    if (tables.isEmpty()) {
        qWarning() << "no tables to write into" << path;
        return false;
    }
    QString error;
    const QByteArray bytes = JetWriter::write(tables, options, &error);
    QFile file(path);
    if (bytes.isEmpty() || !file.open(QIODevice::NewOnly) || file.write(bytes) != bytes.size()) {
        qWarning() << "cannot write" << path << error << file.errorString();
        return false;
    }
    return true;
}

} // namespace Merchalog::Test
