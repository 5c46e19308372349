#pragma once

#include "Export.h"
#include "SitemapDocument.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class FileSystem;
class QObject;

// Writes sitemaps on a thread of its own, so that writing a hundred megabytes holds no one
// up: one export after another, in the order they were asked for, each as ExportSitemap
// writes it (whole or not at all). Each outcome is handed to `done` on the thread of
// `context`, through its event queue, once its writing has ended. The file system is used
// from the queue's thread. Destroying the queue waits for every export asked for.
//
// Lives on the thread of `context`, which calls every member.
class ExportQueue {
public:
    using Done = std::function<void(const ExportResult &)>;
    // `files` and `context` must outlive the queue.
    ExportQueue(FileSystem &files, SitemapLimits limits, QObject *context, Done done);
    ExportQueue(const ExportQueue &) = delete;
    ExportQueue &operator=(const ExportQueue &) = delete;
    ~ExportQueue();

    // Writes `document` into `directory`, as ExportSitemap does, after the exports asked for
    // before.
    void start(const QString &directory, const SitemapDocument &document);
    // How many exports have been asked for whose outcome has not been handed over yet.
    int pending() const { return m_pending; }

private:
    struct Job {
        QString directory;
        SitemapDocument document;
    };
    void run();

    FileSystem &m_files;
    const SitemapLimits m_limits;
    QObject *m_context;
    Done m_done;
    int m_pending = 0;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;  // guarded by m_mutex
    bool m_stopping = false; // guarded by m_mutex
    std::thread m_thread;
};
