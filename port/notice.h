// Notices: texts the library composes for a person (such as the store's data-mismatch
// notice) but never shows on its own, since it writes no log. A user turns them on by
// setting CSLIB_NOTICES=stderr; they are then written to standard error.
#ifndef CSLIB_PORT_NOTICE_H
#define CSLIB_PORT_NOTICE_H

#include <string_view>

namespace cslib::port {

// Writes text (and a line break after it) to standard error when $CSLIB_NOTICES is
// "stderr", read afresh at each call; otherwise does nothing.
void EmitNotice(std::string_view text);

}  // namespace cslib::port

#endif  // CSLIB_PORT_NOTICE_H
