// orvane-ctl: the generator's XML-RPC methods from the command line.
#include "OvcCtl.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    OvcCtl ctl;
    const int status = ctl.run(args, std::getenv("ORVANE_HOST"));
    std::fwrite(ctl.out().data(), 1, ctl.out().size(), stdout);
    std::fflush(stdout);
    std::fwrite(ctl.err().data(), 1, ctl.err().size(), stderr);
    return status;
}
