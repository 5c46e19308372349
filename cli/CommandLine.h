#pragma once

// Whether the arguments ask for the command line rather than the window: --crawl, --help or
// --version among them. Decided before any application object exists, since the command line
// must run where there is no display.
bool wantsCommandLine(int argc, char **argv);

// Runs the command line and returns the program's exit status: 0 when the sitemap was
// written (or help or the version was asked for), 1 when the crawl or the export failed,
// 2 for a usage error, 128 plus the signal's number when interrupted. Creates the
// application object itself.
int runCommandLine(int argc, char **argv);
