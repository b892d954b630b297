#include "files/csvwriter.h"

#include "catalogue/recordsource.h"
#include "catalogue/schema.h"
#include "catalogue/writeguard.h"

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

CsvResult writeProductCsv(RecordSource &source, QIODevice *device, const CsvProgress &progress)
{
    constexpr qsizetype flushSize = 256 * 1024;
    CsvResult result;
    ProductCsvFormatter formatter = productCsvFormatterFor(source);
    QByteArray buffer;
    buffer.reserve(flushSize + 4096);
    ProductCsvFormatter::appendHeader(buffer);

    bool writeFailed = false;
    auto flush = [&] {
        if (device->write(buffer) != buffer.size()) {
            writeFailed = true;
            return false;
        }
        buffer.resize(0);
        return true;
    };

    const bool read = source.forEachRow([&](const Row &row) {
        formatter.appendRow(row, buffer);
        ++result.rows;
        if (buffer.size() >= flushSize && !flush())
            return false;
        if (progress && !progress(result.rows)) {
            result.cancelled = true;
            return false;
        }
        return true;
    });
    result.replacedCharacters = formatter.replacedCharacters();
    if (result.cancelled)
        return result;
    if (writeFailed || (read && !flush())) {
        result.errorString = device->errorString();
        if (result.errorString.isEmpty())
            result.errorString = u"ファイルに書き込めません"_s;
        return result;
    }
    if (!read) {
        result.errorString = source.errorString();
        if (result.errorString.isEmpty())
            result.errorString = u"商品の一覧を読み込めません"_s;
        return result;
    }
    result.ok = true;
    return result;
}

CsvResult exportProductCsv(RecordSource &source, const QString &fileName, const CsvProgress &progress)
{
    if (const QString open = openCatalogueAt(fileName); !open.isEmpty())
        return CsvResult{.errorString = openCatalogueRefusal(open)};
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        CsvResult result;
        result.errorString = file.errorString();
        return result;
    }
    CsvResult result = writeProductCsv(source, &file, progress);
    if (!result.ok) {
        file.cancelWriting();
        return result;
    }
    if (!file.commit()) {
        result.ok = false;
        result.errorString = file.errorString();
    }
    return result;
}

} // namespace Merchalog
