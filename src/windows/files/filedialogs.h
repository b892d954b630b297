#pragma once

#include <QString>

#include <memory>
#include <optional>

class QPrinter;
class QWidget;

namespace Merchalog {

// The file, save and printer dialogs the main window shows. Tests replace them.
class FileDialogs
{
public:
    virtual ~FileDialogs() = default;
    // The platform's open-file dialog; returns the chosen full path, or nullopt when cancelled.
    virtual std::optional<QString> openFileName(QWidget *parent, const QString &fileName,
                                                const QString &filter) = 0;
    // The platform's save-file dialog; returns the chosen full path (possibly empty), or
    // nullopt when cancelled. confirmOverwrite asks before an existing file is chosen.
    virtual std::optional<QString> saveFileName(QWidget *parent, const QString &fileName,
                                                const QString &filter, bool confirmOverwrite) = 0;
    // The printer set-up dialog for printer; returns false when cancelled.
    virtual bool printerSetup(QWidget *parent, QPrinter *printer) = 0;
};

// Qt's own dialogs.
std::unique_ptr<FileDialogs> makePlatformFileDialogs();

// The type list of the CSV files' dialogs: the description the user sees, then the pattern
// that limits the listing.
inline QString csvFileFilter()
{
    return QStringLiteral("(CSV形式）csv (*.csv)");
}

} // namespace Merchalog
