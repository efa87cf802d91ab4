// The man pages say what --help says: the same options, every orvane-ctl
// command, the version, and groff reads them without a warning.
#include "OvcCtl.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string run(const std::string &cmd)
{
    std::string out;
    FILE *p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

std::string page(const std::string &name)
{
    std::ifstream f(std::string(ORVANE_MAN_DIR) + "/" + name + ".1");
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// The page as text: escaped dashes plain, font changes gone.
std::string plain(std::string roff)
{
    roff = std::regex_replace(roff, std::regex(R"(\\f[BIRP])"), "");
    roff = std::regex_replace(roff, std::regex(R"(\\-)"), "-");
    return std::regex_replace(roff, std::regex(R"(\\&)"), "");
}

// Options named in a text: -x or --name after a blank or an opening mark.
std::set<std::string> options(const std::string &text)
{
    std::set<std::string> found;
    static const std::regex option(R"((?:^|[\s\[(|,'"=])(--?[A-Za-z][A-Za-z0-9-]*))");
    for (std::sregex_iterator i(text.begin(), text.end(), option), end; i != end; ++i)
        found.insert((*i)[1]);
    return found;
}

std::string joined(const std::set<std::string> &s)
{
    std::string out;
    for (const auto &x : s)
        out += x + " ";
    return out;
}

void expectSameOptions(const std::string &help, const std::string &man, const std::string &what)
{
    const auto h = options(help), m = options(plain(man));
    EXPECT_EQ(joined(h), joined(m)) << what << ": --help and the man page name different options";
    EXPECT_GE(h.size(), 3u) << what;
}

void expectVersionAndGroffClean(const std::string &name, const std::string &version)
{
    const std::string man = page(name);
    ASSERT_FALSE(man.empty()) << name;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(man, m, std::regex(R"re(^\.TH \S+ 1 "" "Orvane ([^"]+)")re"))) << man.substr(0, 80);
    EXPECT_EQ(m[1].str(), version) << name;
    EXPECT_EQ(run("groff -man -Tutf8 -ww -z '" + std::string(ORVANE_MAN_DIR) + "/" + name + ".1'"), "") << name;
}

std::string versionOf(const std::string &program)
{
    const std::string out = run(program + " --version");
    const size_t space = out.find(' ');
    return space == std::string::npos ? out : out.substr(space + 1, out.find('\n') - space - 1);
}

} // namespace

TEST(ManPages, OrvaneAndOrvaneRenderFollowTheirHelp)
{
    const std::string version = versionOf(ORVANE_BIN);
    EXPECT_EQ(version, ORVANE_VERSION);
    expectSameOptions(run(std::string(ORVANE_BIN) + " --help"), page("orvane"), "orvane");
    expectVersionAndGroffClean("orvane", version);
    expectSameOptions(run(std::string(ORVANE_RENDER) + " --help"), page("orvane-render"), "orvane-render");
    expectVersionAndGroffClean("orvane-render", version);
}

TEST(ManPages, OrvaneCtlHasEveryCommandAndOption)
{
    std::string help = run(std::string(ORVANE_CTL) + " --help");
    const std::string man = page("orvane-ctl");
    const std::string text = plain(man);
    for (const std::string &c : OvcCtl::commands()) {
        help += run(std::string(ORVANE_CTL) + " " + c + " --help");
        EXPECT_NE(text.find(".SS \"orvane-ctl " + c), std::string::npos) << c << " has no section";
    }
    expectSameOptions(help, man, "orvane-ctl");
    expectVersionAndGroffClean("orvane-ctl", versionOf(ORVANE_CTL));
    for (const char *word : {"ORVANE_HOST", "EXIT STATUS"})
        EXPECT_NE(text.find(word), std::string::npos) << word;
}
