// The account commands against a fake identification service.
#include <gtest/gtest.h>

#include "cli/cli_runner.h"
#include "support/fake_id_service.h"

namespace {

TEST(CliLogin, StoresTheIdentificationsLeftAndReportsFailures) {
    CFakeIdService service;
    CCliSandbox box;
    box.SetEnv("MELODEX_ID_HOST", service.Host());
    box.Json({"prefs", "set", "userName", "ann", "password", "pw"});

    service.SetRelogin(CFakeResponse::Plain(200, "requests_available=42\n"));
    const CJson ok = box.Json({"login"});
    EXPECT_EQ(ok["identificationsLeft"].number, 42);
    EXPECT_FALSE(ok["serverDown"].boolean);
    EXPECT_EQ(ok["status"].text, "You have 42 identifications left.");
    ASSERT_EQ(service.Count("/cgi-bin/relogin.cgi"), 1u);
    EXPECT_EQ(service.Requests("/cgi-bin/relogin.cgi")[0].keys.at("u"), "ann");
    // Saved for later commands.
    EXPECT_EQ(box.Json({"prefs", "show"})["identificationsLeft"].number, 42);

    service.SetRelogin(CFakeResponse::Plain(500, "down"));
    const CCliResult down = box.Run({"--json", "login"});
    EXPECT_EQ(down.status, 1);
    EXPECT_NE(down.err.find("the identification service is down"), std::string::npos) << down.err;
    EXPECT_TRUE(CJson::Parse(down.out)["serverDown"].boolean);

    service.SetRelogin(CFakeResponse::Plain(200, "wrong password\n"));
    const CCliResult refused = box.Run({"login"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("Sorry, Log-in as ann failed."), std::string::npos) << refused.err;
    EXPECT_EQ(box.Json({"prefs", "show"})["identificationsLeft"].number, -1);
}

TEST(CliLogin, WithoutAnAccountOrAServerItFailsClearly) {
    CCliSandbox box;
    const CCliResult none = box.Run({"login"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("no account is stored"), std::string::npos) << none.err;

    box.SetEnv("MELODEX_ID_HOST", "127.0.0.1:1");  // nothing listens there
    box.Json({"prefs", "set", "userName", "ann", "password", "pw"});
    const CCliResult unreachable = box.Run({"login"});
    EXPECT_EQ(unreachable.status, 1);
    EXPECT_NE(unreachable.err.find("the log-in failed"), std::string::npos) << unreachable.err;
}

TEST(CliIntro, StoresTheIntroductoryAccount) {
    CFakeIdService service;
    CCliSandbox box;
    box.SetEnv("MELODEX_ID_HOST", service.Host());
    service.SetIntro(CFakeResponse::Plain(200, "<username>anon7</username><password>x1</password>"));
    const CJson out = box.Json({"intro"});
    EXPECT_TRUE(out["introAccount"].boolean);
    EXPECT_EQ(out["identificationsLeft"].number, 25);
    EXPECT_EQ(out["status"].text, "Using free introductory account. 25 identifications left.");
    const CJson prefs = box.Json({"prefs", "show"});
    EXPECT_EQ(prefs["userName"].text, "anon7");
    EXPECT_EQ(prefs["introAccount"].number, 1);

    service.SetIntro(CFakeResponse::Plain(404, ""));
    CCliSandbox other;
    other.SetEnv("MELODEX_ID_HOST", service.Host());
    const CCliResult failed = other.Run({"intro"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("no introductory account could be created"), std::string::npos) << failed.err;
}

}  // namespace
