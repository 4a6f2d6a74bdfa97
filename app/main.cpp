// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/language.h"
#include "app/programicon.h"
#include "app/programline.h"
#include "app/session.h"
#include "app/startup.h"
#include "res/languagemodule.h"
#include "ui/settingsstore.h"

namespace {

using namespace vokta;

constexpr int kNoSession = 2;

// Qt's messages while it opens the session, held back: when none opens, the program's
// one line says it all; when one does, they are shown as Qt would have.
class HeldMessages {
public:
    HeldMessages() { previous_ = qInstallMessageHandler(&Hold); }
    ~HeldMessages() { qInstallMessageHandler(previous_); }
    HeldMessages(const HeldMessages&) = delete;
    HeldMessages& operator=(const HeldMessages&) = delete;

    void Show() const
    {
        for (const QString& message : held_)
            std::fprintf(stderr, "%s\n", qPrintable(message));
        held_.clear();
    }

private:
    static void Hold(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        held_.push_back(qFormatLogMessage(type, context, message));
    }

    static inline std::vector<QString> held_;
    QtMessageHandler previous_ = nullptr;
};

// QT_QPA_PLATFORM as the user left it, put back once Qt has read the plan's, so that
// programs started from here choose their own way.
class PlatformRequest {
public:
    explicit PlatformRequest(const std::string& platforms)
    {
        if (platforms.empty())
            return;
        changed_ = true;
        if (const char* asked = std::getenv("QT_QPA_PLATFORM"))
            asked_ = asked;
        qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(platforms));
    }
    ~PlatformRequest()
    {
        if (changed_ && asked_)
            qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(*asked_));
        else if (changed_)
            qunsetenv("QT_QPA_PLATFORM");
    }
    PlatformRequest(const PlatformRequest&) = delete;
    PlatformRequest& operator=(const PlatformRequest&) = delete;

private:
    bool changed_ = false;
    std::optional<std::string> asked_;
};

int RefuseWithoutSession(const std::string& program)
{
    std::fprintf(stderr, "%s\n", FormatString(Str::NoGraphicalSession, program).c_str());
    return kNoSession;
}

}  // namespace

int main(int argc, char** argv)
{
    // The settings' name is the executable's base name.
    const QString name = QFileInfo(QString::fromLocal8Bit(argv[0])).completeBaseName();
    const std::string program = QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().toStdString();
    // Help, version and a wrong command line are answered without a session.
    const ProgramStart start = ReadProgramLine(std::vector<std::string>(argv + 1, argv + argc), program, stdout, stderr);
    if (!start.line)
        return start.status;

    QSettings store(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganisation, name);
    // Without a session the refusal is the only text, in the language the window would speak.
    SetResourceModule(ReadLanguage(store) == kItalianLanguage ? FindLanguageModule() : nullptr);
    const SessionPlan plan = PlanSession([](const char* variable) { return std::getenv(variable); });
    if (plan.noSession)
        return RefuseWithoutSession(program);
    std::optional<QApplication> application;
    {
        const PlatformRequest request(plan.platforms);
        const HeldMessages held;
        application.emplace(argc, argv);
        if (NoSessionOpened(plan, QGuiApplication::platformName().toStdString()))
            return RefuseWithoutSession(program);
        held.Show();
    }
    QApplication::setApplicationName(name);
    QApplication::setWindowIcon(ProgramIcon());

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    const StartupInputs inputs{arguments, QApplication::applicationFilePath(), &store, &DriveTable::System()};
    return RunStartup(inputs);
}
