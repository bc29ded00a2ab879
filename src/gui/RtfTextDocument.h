#pragma once
// Turns the neutral rich-text model of a note into a QTextDocument. GUI thread.

#include "message/RtfReader.h"

class QTextDocument;

namespace fw {

// Replaces the content of `doc` with `rtf`.
void fillTextDocument(QTextDocument& doc, const RtfDocument& rtf);

} // namespace fw
