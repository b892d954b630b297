#include "engine/jet/jetreader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>

#include <sys/prctl.h>
#include <sys/resource.h>

#include <charconv>
#include <cmath>
#include <csignal>
#include <cstring>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

using JetStream::Tag;
using JetStream::ValueState;

QString &readerProgram()
{
    static QString program;
    return program;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool limitAddressSpace = false; // the sanitizer reserves far more than it uses
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool limitAddressSpace = false;
#else
constexpr bool limitAddressSpace = true;
#endif
#else
constexpr bool limitAddressSpace = true;
#endif

// Runs in the child between fork and exec: the reader gets bounded memory and processor time,
// writes no file and leaves no core, and dies with the program.
void limitReader()
{
    auto limit = [](int resource, rlim_t value) {
        const rlimit bound{value, value};
        setrlimit(resource, &bound);
    };
    if (limitAddressSpace)
        limit(RLIMIT_AS, rlim_t(512) << 20);
    limit(RLIMIT_CPU, 600);
    limit(RLIMIT_FSIZE, 0);
    limit(RLIMIT_CORE, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
}

bool fixedSizeFits(const JetColumn &column, const JetValue &value)
{
    switch (JetType(column.type)) {
    case JetType::Byte: return value.bytes.size() == 1;
    case JetType::Integer: return value.bytes.size() == 2;
    case JetType::Long:
    case JetType::Single: return value.bytes.size() == 4;
    case JetType::Currency:
    case JetType::Double: return value.bytes.size() == 8;
    default: return false;
    }
}

template<typename T>
T stored(const JetValue &value)
{
    T number;
    std::memcpy(&number, value.bytes.constData(), sizeof number);
    return number;
}

// The shortest decimal that reads back as the same binary number, written out without an
// exponent ("1e-05" becomes "0.00001").
template<typename T>
QString shortestDecimal(T number)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
    const std::string_view text(buffer, std::size_t(result.ptr - buffer));
    const std::size_t e = text.find('e');
    std::string mantissa(text.substr(0, e));
    int exponent = e == std::string_view::npos ? 0 : std::stoi(std::string(text.substr(e + 1)));
    const bool negative = !mantissa.empty() && mantissa.front() == '-';
    if (negative)
        mantissa.erase(0, 1);
    const std::size_t point = mantissa.find('.');
    std::string digits = mantissa;
    if (point != std::string::npos) {
        digits.erase(point, 1);
        exponent -= int(mantissa.size() - point - 1);
    }
    // digits × 10^exponent
    std::string plain;
    if (exponent >= 0) {
        plain = digits + std::string(std::size_t(std::min(exponent, 400)), '0');
    } else {
        const int decimals = -exponent;
        if (int(digits.size()) <= decimals)
            digits.insert(0, std::string(std::size_t(decimals - int(digits.size()) + 1), '0'));
        plain = digits.substr(0, digits.size() - std::size_t(decimals)) + '.' + digits.substr(digits.size() - std::size_t(decimals));
    }
    return QString::fromLatin1(((negative ? "-" : "") + plain).c_str());
}

std::optional<Currency> exactDecimal(const QString &decimal, QString *reason)
{
    const qsizetype point = decimal.indexOf(u'.');
    qsizetype decimals = point < 0 ? 0 : decimal.size() - point - 1;
    while (decimals > 0 && decimal.at(point + decimals) == u'0')
        --decimals;
    if (decimals > 4) {
        *reason = u"%1 は小数点以下が4桁を超えるため、そのままでは取り込めません。"_s.arg(decimal);
        return std::nullopt;
    }
    const auto value = Currency::parse(decimal);
    if (!value)
        *reason = u"%1 は取り込める数値の範囲を超えています。"_s.arg(decimal.size() > 24 ? decimal.left(20) + u"…"_s : decimal);
    return value;
}

} // namespace

JetReader::JetReader(const QString &fileName) : m_fileName(fileName) {}

JetReader::~JetReader() = default;

void JetReader::setReaderProgram(const QString &program)
{
    readerProgram() = program;
}

bool JetReader::fail(const QString &reason)
{
    m_errorString = reason;
    return false;
}

const JetTable *JetReader::table(const QString &name) const
{
    for (const JetTable &table : m_tables) {
        if (table.name.compare(name, Qt::CaseInsensitive) == 0)
            return &table;
    }
    return nullptr;
}

// Follows the stream's order: the version, the file's table names, then each table's name,
// columns, rows and end, and at last the end of the stream. Every length inside a row is
// checked here, once, so that reading the rows back can rely on them.
bool JetReader::take(const JetStream::Record &record, qint64 at)
{
    const QByteArray &payload = record.payload;
    switch (record.tag) {
    case Tag::Failure:
        m_failure = QString::fromUtf8(payload);
        return true;
    case Tag::Version:
        if (m_phase != Phase::Start || payload.size() != 1)
            return false;
        m_version = payload.at(0) == 3 ? 3 : 4;
        m_phase = Phase::Names;
        return true;
    case Tag::TableName:
        if (m_phase != Phase::Names)
            return false;
        m_tableNames << QString::fromUtf8(payload);
        return true;
    case Tag::Table:
        if ((m_phase != Phase::Names && m_phase != Phase::Between) || payload.size() < 4)
            return false;
        m_tables << JetTable{QString::fromUtf8(payload.mid(4)), {}, JetStream::uint32At(payload.constData()), 0, 0};
        m_phase = Phase::Columns;
        return true;
    case Tag::Column:
        if (m_phase != Phase::Columns || payload.isEmpty())
            return false;
        m_tables.last().columns << JetColumn{QString::fromUtf8(payload.mid(1)), std::uint8_t(payload.at(0))};
        return true;
    case Tag::Row:
    case Tag::DamagedRow: {
        if ((m_phase != Phase::Columns && m_phase != Phase::Rows) || m_tables.last().rows == UINT32_MAX)
            return false;
        JetTable &table = m_tables.last();
        if (m_phase == Phase::Columns)
            table.firstRecord = at;
        m_phase = Phase::Rows;
        ++table.rows;
        if (record.tag == Tag::DamagedRow)
            return true;
        qsizetype position = 0;
        for (qsizetype i = 0; i < table.columns.size(); ++i) {
            if (position >= payload.size())
                return false;
            const auto state = ValueState(payload.at(position++));
            if (state == ValueState::Value || state == ValueState::Error) {
                if (payload.size() - position < 4)
                    return false;
                const std::uint32_t length = JetStream::uint32At(payload.constData() + position);
                if (payload.size() - position - 4 < qsizetype(length))
                    return false;
                position += 4 + qsizetype(length);
            } else if (state != ValueState::Null && state != ValueState::Skipped) {
                return false;
            }
        }
        return position == payload.size();
    }
    case Tag::TableEnd:
        if ((m_phase != Phase::Columns && m_phase != Phase::Rows) || payload.size() != 4
            || JetStream::uint32At(payload.constData()) != m_tables.last().rows)
            return false;
        if (m_phase == Phase::Columns)
            m_tables.last().firstRecord = at;
        m_phase = Phase::Between;
        return true;
    case Tag::End:
        if (m_phase != Phase::Names && m_phase != Phase::Between)
            return false;
        m_phase = Phase::Done;
        return true;
    }
    return false;
}

bool JetReader::read(const QStringList &requests, const Progress &progress)
{
    const QString shown = QDir::toNativeSeparators(m_fileName);
    m_spool = std::make_unique<QTemporaryFile>(QDir::temp().filePath(u"merchalog-jet-XXXXXX"_s));
    if (!m_spool->open())
        return fail(u"一時ファイルを作れないため、「%1」を読めません（%2）。"_s.arg(shown, m_spool->errorString()));

    QProcess process;
    process.setProgram(readerProgram().isEmpty() ? QCoreApplication::applicationFilePath() : readerProgram());
    process.setArguments(QStringList{u"read-jet"_s, QFileInfo(m_fileName).absoluteFilePath()} + requests);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setChildProcessModifier(limitReader);
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted())
        return fail(u"「%1」を読むための処理を始められません（%2）。"_s.arg(shown, process.errorString()));

    QByteArray pending;
    qsizetype position = 0;
    qint64 consumed = 0; // stream bytes before pending
    bool broken = false;
    bool magicSeen = false;
    QElapsedTimer idle;
    idle.start();
    auto stop = [&process] {
        process.kill();
        process.waitForFinished(-1);
    };
    for (;;) {
        const bool running = process.waitForReadyRead(100) || process.state() == QProcess::Running;
        const QByteArray chunk = process.readAllStandardOutput();
        if (!chunk.isEmpty()) {
            idle.restart();
            if (m_spool->write(chunk) != chunk.size()) {
                stop();
                return fail(u"一時ファイルに書けないため、「%1」を読めません（%2）。"_s.arg(shown, m_spool->errorString()));
            }
            pending += chunk;
            if (!magicSeen && pending.size() >= JetStream::magicLength) {
                broken = !pending.startsWith(QByteArrayView(JetStream::magic, JetStream::magicLength));
                magicSeen = true;
                position = JetStream::magicLength;
            }
            while (magicSeen && !broken && m_phase != Phase::Done && m_failure.isEmpty()) {
                const qint64 at = consumed + position;
                const auto record = JetStream::readRecord(pending, &position, &broken);
                if (!record)
                    break;
                broken = !take(*record, at);
            }
            if (position > (1 << 20)) {
                pending.remove(0, position);
                consumed += position;
                position = 0;
            }
            if (broken || (m_phase == Phase::Done && position < pending.size())) {
                stop();
                return fail(u"「%1」の読み取り結果が壊れています。ファイルが壊れている可能性があります。"_s.arg(shown));
            }
        }
        if (!running && chunk.isEmpty())
            break;
        if (idle.elapsed() > m_timeout) {
            stop();
            return fail(u"「%1」の読み取りが %2 秒以上進まないため中止しました。ファイルが壊れている可能性があります。"_s
                            .arg(shown).arg(m_timeout / 1000));
        }
        if (progress) {
            qint64 done = 0;
            qint64 total = 0;
            for (const JetTable &table : std::as_const(m_tables)) {
                done += table.rows;
                total += std::max<qint64>(table.declaredRows, table.rows);
            }
            if (!progress(done, total)) {
                stop();
                m_cancelled = true;
                return fail(u"「%1」の読み取りを取り消しました。"_s.arg(shown));
            }
        }
    }
    process.waitForFinished(-1);
    if (!m_failure.isEmpty())
        return fail(u"「%1」を読めません: %2"_s.arg(shown, m_failure));
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 || m_phase != Phase::Done)
        return fail(u"「%1」の読み取り中に読み取り処理が異常終了しました。ファイルが壊れている可能性があります。"_s.arg(shown));
    if (!m_spool->flush())
        return fail(u"一時ファイルに書けないため、「%1」を読めません（%2）。"_s.arg(shown, m_spool->errorString()));
    return true;
}

bool JetReader::forEachRow(const JetTable &table, const std::function<bool(const JetRow &)> &visit) const
{
    if (!m_spool || m_phase != Phase::Done || !m_spool->seek(table.firstRecord))
        return false;
    QByteArray buffer;
    qsizetype position = 0;
    JetRow row;
    for (;;) {
        bool broken = false;
        const auto record = JetStream::readRecord(buffer, &position, &broken);
        if (broken)
            return false;
        if (!record) {
            buffer.remove(0, position);
            position = 0;
            const QByteArray more = m_spool->read(1 << 20);
            if (more.isEmpty())
                return false;
            buffer += more;
            continue;
        }
        if (record->tag == Tag::TableEnd)
            return true;
        row.values.clear();
        row.damaged.clear();
        if (record->tag == Tag::DamagedRow) {
            row.damaged = QString::fromUtf8(record->payload);
            if (!visit(row))
                return true;
            continue;
        }
        if (record->tag != Tag::Row)
            return false;
        // The record was checked when it was read: every length lies inside it.
        const QByteArray &payload = record->payload;
        qsizetype at = 0;
        while (at < payload.size()) {
            JetValue value{ValueState(payload.at(at++)), {}};
            if (value.state == ValueState::Value || value.state == ValueState::Error) {
                const std::uint32_t length = JetStream::uint32At(payload.constData() + at);
                value.bytes = payload.mid(at + 4, qsizetype(length));
                at += 4 + qsizetype(length);
            }
            row.values << value;
        }
        if (!visit(row))
            return true;
    }
}

QString jetValueText(const JetColumn &column, const JetValue &value)
{
    const JetType type = JetType(column.type);
    if (value.state != ValueState::Value || type == JetType::Text || type == JetType::Memo)
        return QString::fromUtf8(value.bytes);
    if (!fixedSizeFits(column, value))
        return QString::fromLatin1(value.bytes.toHex(' '));
    if (type == JetType::Single || type == JetType::Double) {
        const double number = type == JetType::Single ? double(stored<float>(value)) : stored<double>(value);
        if (std::isnan(number) || std::isinf(number))
            return std::isnan(number) ? u"NaN"_s : number < 0 ? u"-inf"_s : u"inf"_s;
        return type == JetType::Single ? shortestDecimal(stored<float>(value)) : shortestDecimal(number);
    }
    QString unused;
    const auto number = jetCurrency(column, value, &unused);
    return number ? number->toPlainText() : QString();
}

std::optional<Currency> jetCurrency(const JetColumn &column, const JetValue &value, QString *reason)
{
    const JetType type = JetType(column.type);
    if (!fixedSizeFits(column, value)) {
        *reason = u"数値の項目ではありません。"_s;
        return std::nullopt;
    }
    switch (type) {
    case JetType::Byte: return Currency::fromUnits(std::int64_t(stored<std::uint8_t>(value)) * Currency::unitsPerOne);
    case JetType::Integer: return Currency::fromUnits(std::int64_t(stored<std::int16_t>(value)) * Currency::unitsPerOne);
    case JetType::Long: return Currency::fromUnits(std::int64_t(stored<std::int32_t>(value)) * Currency::unitsPerOne);
    case JetType::Currency: return Currency::fromUnits(stored<std::int64_t>(value));
    case JetType::Single:
    case JetType::Double: {
        const double number = type == JetType::Single ? double(stored<float>(value)) : stored<double>(value);
        if (std::isnan(number) || std::isinf(number)) {
            *reason = u"数値ではない値（NaN または無限大）です。"_s;
            return std::nullopt;
        }
        return exactDecimal(type == JetType::Single ? shortestDecimal(stored<float>(value)) : shortestDecimal(number), reason);
    }
    default:
        return std::nullopt;
    }
}

std::optional<std::int16_t> jetSmallInt(const JetColumn &column, const JetValue &value, QString *reason)
{
    const auto number = jetCurrency(column, value, reason);
    if (!number)
        return std::nullopt;
    if (!number->isWhole() || number->units() / Currency::unitsPerOne < INT16_MIN
        || number->units() / Currency::unitsPerOne > INT16_MAX) {
        *reason = u"%1 は -32768 から 32767 までの整数ではありません。"_s.arg(number->toPlainText());
        return std::nullopt;
    }
    return std::int16_t(number->units() / Currency::unitsPerOne);
}

} // namespace Merchalog
