#pragma once
// Files saved from completion handlers are written together once the event loop has run the
// handlers ready with them: a batch costs two flushes of the disk however many files it holds,
// where each file on its own would cost two. Each file is still replaced whole or not at all.

#include "WholeFile.h"

#include <QObject>

#include <functional>
#include <string>
#include <vector>

class TBatchedSave : public QObject {
public:
    using TSaved = std::function<void(TFileWriteResult)>;

    // saved is called from the event loop once the file is on the disk, or has failed.
    void Save(std::string fileName, std::string content, TSaved saved);

private:
    void Flush();

    std::vector<TWholeFile> Files_;
    std::vector<TSaved> Saved_;
    bool Scheduled_ = false;
};
