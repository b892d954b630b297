#include "engine/files/csvwriter.h"

#include "engine/kinds/schema.h"
#include "engine/records/recordsource.h"
#include "engine/sqlite/writeguard.h"

#include <QFileDevice>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace Merchalog {

ProductCsvFormatter productCsvFormatterFor(const RecordSource &source)
{
    std::array<int, 11> index;
    for (std::size_t i = 0; i < syohinFields.size(); ++i)
        index[i] = source.fieldIndex(syohinFields[i].name);
    return ProductCsvFormatter(index);
}

Result<CsvSummary> writeProductCsv(RecordSource &source, QIODevice *device, const CsvProgress &progress)
{
    constexpr qsizetype flushSize = 256 * 1024;
    CsvSummary summary;
    ProductCsvFormatter formatter = productCsvFormatterFor(source);
    QByteArray buffer;
    buffer.reserve(flushSize + 4096);
    ProductCsvFormatter::appendHeader(buffer);

    bool writeFailed = false;
    bool cancelled = false;
    auto flush = [&] {
        if (device->write(buffer) != buffer.size()) {
            writeFailed = true;
            return false;
        }
        buffer.resize(0);
        return true;
    };

    const Status read = source.forEachRow([&](const Row &row) {
        formatter.appendRow(row, buffer);
        ++summary.rows;
        if (buffer.size() >= flushSize && !flush())
            return false;
        if (progress && !progress(summary.rows)) {
            cancelled = true;
            return false;
        }
        return true;
    });
    summary.replacedCharacters = formatter.replacedCharacters();
    if (cancelled)
        return Status(ErrorCode::Cancelled, {});
    if (writeFailed || (read && !flush())) {
        const auto *file = qobject_cast<const QFileDevice *>(device);
        return fileFailure(ErrorCode::WriteFailed, Failed::writingFile, file ? file->fileName() : QString(),
                           device->errorString());
    }
    if (!read)
        return read;
    return summary;
}

Result<CsvSummary> exportProductCsv(RecordSource &source, const QString &fileName, const CsvProgress &progress)
{
    if (const QString open = openCatalogueAt(fileName); !open.isEmpty())
        return openCatalogueRefusal(fileName, open);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return fileFailure(ErrorCode::WriteFailed, Failed::writingFile, fileName, file.errorString());
    auto result = writeProductCsv(source, &file, progress);
    if (!result) {
        file.cancelWriting();
        return result;
    }
    if (!file.commit())
        return fileFailure(ErrorCode::WriteFailed, Failed::writingFile, fileName, file.errorString());
    return result;
}

} // namespace Merchalog
