#include "RtfTextDocument.h"

#include <QColor>
#include <QFont>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace fw {

namespace {

Qt::Alignment toQt(RtfAlignment a) {
    switch (a) {
    case RtfAlignment::Center:
        return Qt::AlignHCenter;
    case RtfAlignment::Right:
        return Qt::AlignRight;
    case RtfAlignment::Justify:
        return Qt::AlignJustify;
    case RtfAlignment::Left:
        break;
    }
    return Qt::AlignLeft;
}

QColor toColour(quint32 rgb) {
    return QColor(int((rgb >> 16) & 0xFF), int((rgb >> 8) & 0xFF), int(rgb & 0xFF));
}

QTextCharFormat toFormat(const RtfRun& run) {
    QTextCharFormat f;
    f.setFontWeight(run.bold ? QFont::Bold : QFont::Normal);
    f.setFontItalic(run.italic);
    f.setFontUnderline(run.underline);
    f.setFontStrikeOut(run.strike);
    if (run.halfPoints > 0)
        f.setFontPointSize(run.halfPoints / 2.0);
    if (run.hasForeground)
        f.setForeground(toColour(run.foreground));
    if (run.hasBackground)
        f.setBackground(toColour(run.background));
    return f;
}

} // namespace

void fillTextDocument(QTextDocument& doc, const RtfDocument& rtf) {
    doc.clear();
    QTextCursor cursor(&doc);
    cursor.beginEditBlock();
    bool first = true;
    for (const RtfParagraph& p : rtf.paragraphs) {
        QTextBlockFormat block;
        block.setAlignment(toQt(p.alignment));
        if (first)
            cursor.setBlockFormat(block);
        else
            cursor.insertBlock(block);
        first = false;
        for (const RtfRun& run : p.runs)
            cursor.insertText(run.text, toFormat(run));
    }
    cursor.endEditBlock();
}

} // namespace fw
