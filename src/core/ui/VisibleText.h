#pragma once
// How a text is presented, in the window and in the headless text output: control characters
// are written out so that no text can break a line, move the cursor or forge a report of its
// own. Pure function; any thread.

#include <QString>

namespace fw {

// C0 controls (U+0000..U+001F), DEL and the C1 controls (U+0080..U+009F) as "\xHH" with
// lowercase hex digits ("\x0a" for a line feed); the Unicode line and paragraph separators as
// "\u2028" and "\u2029". Everything else is kept as it is.
QString visibleText(const QString& text);

// True when visibleText() would change nothing.
bool isVisibleText(const QString& text);

} // namespace fw
