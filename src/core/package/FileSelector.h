#pragma once
// The one rule by which the transfer engines choose which extraction-list entries to send: by
// attribute (upgrade file, the engine's check bit, default, ROM-identifier-specific) and the
// router's ROM identifier, with the "skip the next default once" memory, the section letters
// of what was chosen, and message files shown on the way. Lives on the thread of its engine.

#include "package/MessageSelection.h"
#include "transfer/ExtractionList.h"
#include "ui/Sinks.h"

#include <QString>
#include <QtGlobal>
#include <functional>

namespace fw {

// What differs between the engines that share the rule.
struct FileChoiceRules {
    // The bit an upgrade file needs for this engine: AttrNormalCheck (HTTP, FTP) or
    // AttrTftpCheck (TFTP), and the line logged for a file without it.
    quint16 checkBit = 0;
    QString checkDisabledText;
    MessageMode messageMode = MessageMode::Ftp;
    // "File Count : " and "i= " lines in a verbose pass (HTTP, FTP; not TFTP).
    bool logCountAndIndex = true;
    // HTTP: an upgrade file with neither AttrDefault nor AttrRomIdCheck is logged as of unknown
    // attribute even without the check bit (FTP and TFTP log the missing check bit first).
    bool unknownBeforeCheck = false;
    // HTTP: a message file that cannot be opened also sets resultText.
    bool messageErrorSetsResult = false;
    // TFTP: a file size that cannot be had is logged instead of going to resultText.
    bool seekErrorToLog = false;
    // TFTP: the end of the list gives NoFiles also when nothing was selected since construction.
    bool noFilesWhenNoneSelected = false;

    static FileChoiceRules http();
    static FileChoiceRules ftp();
    static FileChoiceRules tftp();
};

class FileSelector {
public:
    // SelectNextFile results besides an index.
    static constexpr int NoMoreFiles = 1001;
    static constexpr int NoFiles = 1002;
    static constexpr int MessageOpenError = -1;
    // Message files are small (a 125-byte header and a 16-bit text length); anything bigger than
    // this is not read.
    static constexpr qint64 MaxMessageFileSize = 1 << 20;

    // Shows one message file; a negative result means it could not be opened. The default
    // reads the file and runs SelectAndShow in the rules' mode.
    using MessageShower = std::function<int(const ExtractionEntry& entry)>;

    // `files` and the sinks' targets must outlive the selector.
    FileSelector(const ExtractionList& files, const QString& romId, FileChoiceRules rules,
                 const Sinks& sinks);

    // Total size of the entries the rule will send; -1 when a size cannot be had (resultText
    // "File Seek error : " + path, or the same line in the log for TFTP). Logs "Upgrade File
    // Length : " + total. Leaves skipDefault cleared.
    qint64 UploadLength();

    // The next entry to send from `start` on, NoMoreFiles, NoFiles (start 0: nothing at all;
    // resultText "ignore all files error"), or MessageOpenError. A pass that is not verbose is a
    // look-ahead: it shows no message, logs only the missing-check-bit line, and leaves
    // skipDefault, sentSections and the counters as it found them.
    int SelectNextFile(int start, bool verbose = true);

    void setMessageShower(MessageShower shower) { shower_ = std::move(shower); }
    // The default shower; public so an engine's own shower can wrap it.
    int showMessageFile(const ExtractionEntry& entry);

    const FileChoiceRules& rules() const { return rules_; }

    bool skipDefault = false;
    QString sentSections; // section letters of the selected entries, each once
    QString resultText;
    int filesSelected = 0;

private:
    enum class Choice { Skip, Select };
    Choice decide(const ExtractionEntry& entry, bool verbose);
    void log(const QString& line) const { sinks_.logLine(line); }

    const ExtractionList& files_;
    QString romId_;
    FileChoiceRules rules_;
    Sinks sinks_;
    MessageShower shower_;
};

} // namespace fw
