#include "objects/Thread.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "objects/platform/Sync.h"

namespace LxObjects {

class ThreadData : public LoHeap {
public:
    // Cancelled: the object is being destroyed, from any state.
    enum Gate { Suspended, Resumed, Cancelled };

    std::thread handle;
    Platform::AutoResetEvent done;
    Platform::AutoResetEvent wake;

    // The start gate that keeps the new thread suspended.
    std::mutex gateMutex;
    std::condition_variable gateChanged;
    Gate gate = Suspended;
    bool idKnown = false;
    u32 id = 0;

    // Checked before each virtual call: once destruction has begun the
    // subclass part is gone (or going), so its vptr must not be read.
    bool mayCall()
    {
        std::lock_guard<std::mutex> guard(gateMutex);
        return gate != Cancelled;
    }
};

namespace {

i32 errorOf(std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        return -28;
    } catch (...) {
        return -29;
    }
}

}  // namespace

Thread::Thread() : data_(new ThreadData), threadId_(0), error_(0), running_(0), joinLimit_(kJoinLimit)
{
    if (!data_)
        throw std::bad_alloc();
    try {
        data_->handle = std::thread(&Thread::procedure, this, data_);
    } catch (...) {
        error_ = 32;
        return;
    }
    std::unique_lock<std::mutex> guard(data_->gateMutex);
    data_->gateChanged.wait(guard, [this] { return data_->idKnown; });
    threadId_ = data_->id;
}

Thread::~Thread()
{
    if (data_->handle.joinable()) {
        // A suspended thread ends at once; a running one makes no more
        // virtual calls (so exit() is skipped) and is waited for here.
        {
            std::lock_guard<std::mutex> guard(data_->gateMutex);
            data_->gate = ThreadData::Cancelled;
        }
        data_->gateChanged.notify_all();
        data_->handle.join();
    }
    ObjectLock guard(*this);
    delete data_;
    data_ = nullptr;
}

void Thread::procedure(Thread* thread, ThreadData* data)
{
    {
        std::unique_lock<std::mutex> guard(data->gateMutex);
        data->id = Platform::currentThreadId();
        data->idKnown = true;
        data->gateChanged.notify_all();
        data->gateChanged.wait(guard, [data] { return data->gate != ThreadData::Suspended; });
        if (data->gate == ThreadData::Cancelled)
            return;
    }
    thread->running_ = 1;
    try {
        if (data->mayCall())
            thread->init();
        if (data->mayCall())
            thread->run();
    } catch (...) {
        thread->error_ = errorOf(std::current_exception());
    }
    thread->running_ = 0;
    try {
        if (data->mayCall())
            thread->exit();
    } catch (...) {
        thread->error_ = errorOf(std::current_exception());
    }
    data->done.set();
}

bool Thread::join()
{
    bool ended = data_->done.wait(joinLimit_);
    Platform::yieldProcessor();
    return ended;
}

void Thread::init()
{
}

void Thread::exit()
{
}

void Thread::wait(u32 ms)
{
    data_->wake.wait(ms);
    Platform::yieldProcessor();
}

bool Thread::wake()
{
    data_->wake.set();
    return true;
}

void Thread::start()
{
    if (error_ != 0)
        return;
    {
        std::lock_guard<std::mutex> guard(data_->gateMutex);
        if (data_->gate == ThreadData::Suspended)
            data_->gate = ThreadData::Resumed;
    }
    data_->gateChanged.notify_all();
}

}  // namespace LxObjects
