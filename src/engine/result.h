#pragma once

#include <QString>
#include <QStringView>

#include <optional>
#include <utility>

namespace Merchalog {

// How the engine reports failure: every operation that can fail returns a Status, or a
// Result<T> when it also gives a value. A failure carries what went wrong as a code, for
// callers that act on the kind of failure, and as one complete Japanese sentence naming the
// file or field involved, for the user; each failure has exactly one wording. A conversion of
// typed text that may simply have no value (a number, a search text, a like pattern) gives a
// std::optional instead: that is an input to refuse, not a failure to report.
enum class ErrorCode {
    None,
    // A catalogue that cannot be opened (see isOpenFailure).
    Missing,      // no such file
    NotDatabase,  // not an SQLite database, or not readable as one
    NotCatalogue, // an SQLite database without our mark, or whose tables are not ours
    HoldsCode,    // holds something SQLite would run (a trigger, a view)
    NewerFormat,  // a catalogue of a format newer than this program reads
    PathTooLong,  // a path longer than SQLite can open
    // A request the catalogue cannot serve.
    BadStatement,    // a record-source text outside the subset, or naming unknown fields
    NoCurrentRecord, // an operation on the current record with nothing current
    InvalidValue,    // a value that does not fit its field's kind (field() names the field)
    // Reading and writing.
    ReadFailed,  // rows could not be read
    WriteFailed, // the file refused the change (read-only, moved away, disk full) or a
                 // file could not be written
    Busy,        // another program kept the catalogue busy beyond the wait: nothing was
                 // read or stored
    Conflict,    // the record was deleted or changed elsewhere since it was read
    Cancelled,   // the user stopped the work; nothing was written (no message: the user
                 // asked for it)
};

// Whether the code says that a catalogue could not be opened at all.
constexpr bool isOpenFailure(ErrorCode code)
{
    return code >= ErrorCode::Missing && code <= ErrorCode::PathTooLong;
}

// Success, or a failure with its code, message and (for InvalidValue) field.
class Status final
{
public:
    Status() = default;
    Status(ErrorCode code, QString message, QString field = {})
        : m_code(code)
        , m_message(std::move(message))
        , m_field(std::move(field))
    {
    }

    bool ok() const { return m_code == ErrorCode::None; }
    explicit operator bool() const { return ok(); }
    ErrorCode code() const { return m_code; }
    const QString &message() const { return m_message; }
    const QString &field() const { return m_field; }

private:
    ErrorCode m_code = ErrorCode::None;
    QString m_message;
    QString m_field;
};

// A value, or the Status of the failure that kept it from being made.
template<class T>
class Result final
{
public:
    Result(T value)
        : m_value(std::move(value))
    {
    }
    Result(Status failure)
        : m_status(std::move(failure))
    {
    }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    // Success, or the failure.
    const Status &status() const { return m_status; }

    T &value() { return *m_value; }
    const T &value() const { return *m_value; }
    T &operator*() { return *m_value; }
    const T &operator*() const { return *m_value; }
    T *operator->() { return &*m_value; }
    const T *operator->() const { return &*m_value; }

private:
    std::optional<T> m_value;
    Status m_status;
};

// The words of a failure on a file or catalogue, which every such failure is worded with:
// "<what failed>: <path>（<reason>）".
namespace Failed {
inline constexpr QStringView reading = u"カタログファイルを読み込めませんでした";
inline constexpr QStringView adding = u"登録できませんでした";
inline constexpr QStringView storing = u"変更を保存できませんでした";
inline constexpr QStringView deleting = u"削除できませんでした";
inline constexpr QStringView writingFile = u"ファイルを書き込めませんでした";
inline constexpr QStringView readingFile = u"ファイルを読み込めませんでした";
inline constexpr QStringView importing = u"取り込めませんでした";
} // namespace Failed

namespace Reason {
inline constexpr QStringView busy = u"ほかのプログラムが使用中です";
inline constexpr QStringView readOnly = u"書き込みが許されていません";
inline constexpr QStringView movedAway = u"ファイルが移動または削除されました";
inline constexpr QStringView exists = u"同じ名前のファイルがすでにあります";
} // namespace Reason

// A failure on the file (or catalogue) at path, worded as above; the reason may be empty.
Status fileFailure(ErrorCode code, QStringView what, const QString &path, QStringView reason = {});

// A failure on a temporary file written in the place of path, told of path instead: the user
// never named the temporary file.
Status toldOfTarget(const Status &failure, const QString &temporary, const QString &path);

} // namespace Merchalog
