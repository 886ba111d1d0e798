#pragma once
// Files saved from completion handlers are written together: those that wait when the owner calls
// Flush, or once the first of them has waited the longest delay allowed. A batch costs two flushes
// of the disk however many files it holds, where each file on its own would cost two. Each file is
// still replaced whole or not at all.

#include "WholeFile.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

class TBatchedSave : public QObject {
public:
    using TSaved = std::function<void(TFileWriteResult)>;

    explicit TBatchedSave(std::chrono::milliseconds longestWait);

    // saved is called once the file is on the disk, or has failed: from the event loop, or from Flush.
    void Save(std::string fileName, std::string content, TSaved saved);
    // Writes the files waiting now and tells their outcomes before it returns.
    void Flush();

private:
    QTimer Timer_;
    std::vector<TWholeFile> Files_;
    std::vector<TSaved> Saved_;
};
