#pragma once

// File dialogs answered from a script, recording what each was offered (tests of the file menu).

#include "app/filemenu.h"

#include <QPrinter>

#include <QVariantList>
#include <functional>
#include <vector>

namespace Merchalog::Test {

class ScriptedDialogs final : public FileDialogs
{
public:
    struct Call
    {
        QString fileName;
        QString filter;
        bool save = false;
        bool confirmOverwrite = false;
    };

    std::optional<QString> openFileName(QWidget *, const QString &fileName, const QString &filter) override
    {
        calls.push_back({fileName, filter});
        return next();
    }
    std::optional<QString> saveFileName(QWidget *, const QString &fileName, const QString &filter,
                                        bool confirmOverwrite) override
    {
        calls.push_back({fileName, filter, true, confirmOverwrite});
        return next();
    }
    bool printerSetup(QWidget *, QPrinter *printer) override
    {
        ++printerDialogs;
        return printerAnswer && printerAnswer(printer);
    }
    // The printer dialog chooses a PDF file and is accepted.
    void printTo(const QString &pdf)
    {
        printerAnswer = [pdf](QPrinter *printer) {
            printer->setOutputFileName(pdf);
            return true;
        };
    }
    // Installs a script into a file menu; the menu owns it.
    static ScriptedDialogs *install(FileMenu *menu)
    {
        auto dialogs = std::make_unique<ScriptedDialogs>();
        ScriptedDialogs *script = dialogs.get();
        menu->setDialogs(std::move(dialogs));
        return script;
    }

    QVariantList answers; // file names in turn; a null QVariant cancels

    std::vector<Call> calls;
    std::function<bool(QPrinter *)> printerAnswer;
    int printerDialogs = 0;

private:
    std::optional<QString> next()
    {
        const QVariant answer = answers.isEmpty() ? QVariant() : answers.takeFirst();
        if (!answer.isValid())
            return std::nullopt;
        return answer.toString();
    }
};

} // namespace Merchalog::Test
