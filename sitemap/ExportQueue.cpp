#include "ExportQueue.h"

#include <QMetaObject>
#include <QObject>

ExportQueue::ExportQueue(FileSystem &files, SitemapLimits limits, QObject *context, Done done)
    : m_files(files)
    , m_limits(limits)
    , m_context(context)
    , m_done(std::move(done)) {
}

ExportQueue::~ExportQueue() {
    if (!m_thread.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void ExportQueue::start(const QString &directory, const SitemapDocument &document) {
    ++m_pending;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back({directory, document});
    }
    m_wake.notify_one();
    if (!m_thread.joinable())
        m_thread = std::thread(&ExportQueue::run, this);
}

void ExportQueue::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            // What was asked for is written before the queue stops.
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_jobs.empty())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        const ExportResult result = ExportSitemap(m_files, job.directory, job.document, m_limits);
        // The job's document goes here, on this thread: the last copy of a big one frees
        // megabytes.
        job = Job();
        QMetaObject::invokeMethod(
            m_context,
            [this, result] {
                --m_pending;
                m_done(result);
            },
            Qt::QueuedConnection);
    }
}
