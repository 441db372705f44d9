#pragma once
// Runs one task on its own thread and reports its end, so that the GUI thread can keep a modal
// waiting window alive meanwhile. The destructor waits for the task: the thread is never left
// running past its owner.
#include <QThread>

#include <functional>

class WorkerThread : public QThread {
    Q_OBJECT
public:
    explicit WorkerThread(std::function<void()> task, QObject* parent = nullptr);
    ~WorkerThread() override;

signals:
    // Emitted from the worker thread after the task has returned (also for an empty task).
    void taskCompleted();

protected:
    void run() override;

private:
    std::function<void()> task;
};
