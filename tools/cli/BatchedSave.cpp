#include "BatchedSave.h"

TBatchedSave::TBatchedSave(std::chrono::milliseconds longestWait)
{
    Timer_.setSingleShot(true);
    Timer_.setInterval(longestWait);
    connect(&Timer_, &QTimer::timeout, this, &TBatchedSave::Flush);
}

void TBatchedSave::Save(std::string fileName, std::string content, TSaved saved)
{
    Files_.push_back({std::move(fileName), std::move(content)});
    Saved_.push_back(std::move(saved));
    if (!Timer_.isActive())
        Timer_.start();
}

void TBatchedSave::Flush()
{
    Timer_.stop();
    // Taken out first: a handler told below may save the next file.
    const std::vector<TWholeFile> files = std::move(Files_);
    const std::vector<TSaved> saved = std::move(Saved_);
    Files_.clear();
    Saved_.clear();
    const std::vector<TFileWriteResult> results = WriteWholeFiles(files);
    for (size_t i = 0; i < saved.size(); ++i)
        saved[i](results[i]);
}
