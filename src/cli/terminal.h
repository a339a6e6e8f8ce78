// Whether a person sits at the other end of standard input, on POSIX and on Windows.
#pragma once

namespace zvk::cli {

bool StdinIsTerminal();

}  // namespace zvk::cli
