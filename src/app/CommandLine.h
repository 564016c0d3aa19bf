#pragma once

// The command line of `vyo` for scripts and launcher actions: --new-shelf, --add FILE… (with "-"
// for standard input, named by --name), --reopen, --share, --help and --version. Each action is
// handed to the running copy over the session bus, which starts Vyo when it is not running; the
// exit status says whether it worked and standard error says why not. Arguments that are no
// option keep starting Vyo with vyoshelf: URLs.

#include <QStringList>

namespace vyo::commandLine {

// Whether the arguments ask for one of the options above, which need no window system.
bool isRequest(int argc, const char *const *argv);

// Carries out the request; the process's exit status: 0 done, 1 the action failed, 2 the command
// line was wrong.
int run(const QStringList &arguments);

} // namespace vyo::commandLine
