#include "BatchedSave.h"

#include <QTimer>

void TBatchedSave::Save(std::string fileName, std::string content, TSaved saved)
{
    Files_.push_back({std::move(fileName), std::move(content)});
    Saved_.push_back(std::move(saved));
    if (Scheduled_)
        return;
    Scheduled_ = true;
    QTimer::singleShot(0, this, [this] { Flush(); });
}

void TBatchedSave::Flush()
{
    Scheduled_ = false;
    // Taken out first: a handler told below may save the next file.
    const std::vector<TWholeFile> files = std::move(Files_);
    const std::vector<TSaved> saved = std::move(Saved_);
    Files_.clear();
    Saved_.clear();
    const std::vector<TFileWriteResult> results = WriteWholeFiles(files);
    for (size_t i = 0; i < saved.size(); ++i)
        saved[i](results[i]);
}
