#include "processing/WorkerThread.h"

#include <utility>

WorkerThread::WorkerThread(std::function<void()> task, QObject* parent)
    : QThread(parent)
    , task(std::move(task))
{
}

WorkerThread::~WorkerThread()
{
    wait();
}

void WorkerThread::run()
{
    if (task)
        task();
    emit taskCompleted();
}
