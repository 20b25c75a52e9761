// Commands over the service account: the log-in check and the free
// introductory account. Both save the preferences when they end, as
// quitting the application does.
#include "app/app.h"
#include "cli/cli_context.h"
#include "cli/command.h"
#include "identify/account.h"

namespace {

CJsonValue AccountObject(CApp& app) {
    CJsonValue result = CJsonValue::Object();
    result.Set("identificationsLeft", CJsonValue::Int(app.prefs.identificationsLeft));
    result.Set("introAccount", CJsonValue::Bool(app.prefs.introAccount != 0));
    result.Set("serverDown", CJsonValue::Bool(app.serverDown));
    result.Set("status", CJsonValue::Latin1(AccountStatusText(app)));
    return result;
}

void RunLogin(CCliContext& context, const SArgs&) {
    context.LoadSettings();
    CApp& app = context.App();
    if (app.prefs.userName[0] == '\0' || app.prefs.password[0] == '\0')
        context.Abort("", "no account is stored: set userName and password with 'prefs set', or run 'intro'");
    context.Shell().followStatusLine = true;
    app.HandleCommand(Cmd("LOGN"));
    context.TickUntil([&] { return !app.reloginJob; });
    context.SaveSettings();
    if (app.serverDown)
        context.Fail("", "the identification service is down");
    else if (app.prefs.identificationsLeft == -1 || app.introLoginFailed)
        context.Fail("", "the log-in failed");
    context.Emit(AccountObject(app));
}

void RunIntro(CCliContext& context, const SArgs&) {
    context.LoadSettings();
    CApp& app = context.App();
    context.Shell().followStatusLine = true;
    StartIntroRequest(app);
    context.TickUntil([&] { return !app.introRequest; });
    context.SaveSettings();
    if (app.introRequestFailed) context.Fail("", "no introductory account could be created");
    context.Emit(AccountObject(app));
}

}  // namespace

SCommand LoginCommand() {
    return {"login", "", "check the stored account with the identification service",
            "Updates the identifications left and saves the preferences. Exit status 1 when the\n"
            "log-in fails or the service is down.",
            {}, 0, 0, RunLogin};
}

SCommand IntroCommand() {
    return {"intro", "", "request a free introductory account and store it",
            "Exit status 1 when the service gives no account.", {}, 0, 0, RunIntro};
}
