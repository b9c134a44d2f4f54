// The one thread abstraction of the objects library. A thread is created
// suspended, so no code of a subclass runs before its constructor has
// finished; the owner calls start once the object is complete.
#pragma once
#include <atomic>

#include "objects/LoLock.h"
#include "objects/LoTypes.h"

namespace LxObjects {

class ThreadData;

class Thread : public LoLockable {
public:
    static const u32 kJoinLimit = 600000;  // ten minutes

    Thread();
    // Waits for a started thread to leave its procedure, so the thread never
    // outlives its object. Owners stop and join first. Deleting a running
    // thread instead is sound only once the owner knows run() has begun (run
    // told it so): the subclass is gone by the time this runs, so the
    // procedure makes no more virtual calls - exit() is skipped - and run()
    // must end on its own without touching the subclass.
    ~Thread() override;

    virtual void run() = 0;
    // Waits for the end of the procedure at most the join limit; true when it
    // ended. The end is reported to one join only.
    virtual bool join();
    virtual void init();
    virtual void exit();
    // Waits for a wake at most ms milliseconds; a wake that came before counts.
    virtual void wait(u32 ms);
    virtual bool wake();
    virtual void start();

    u32 getThreadId() const { return threadId_; }
    // 0, 32 (creation failed), -28 (out of memory) or -29 (other exception).
    i32 getError() const { return error_; }
    bool isRunning() const { return running_ != 0; }
    // Tests shorten the ten minutes.
    void setJoinLimit(u32 ms) { joinLimit_ = ms; }

private:
    static void procedure(Thread* thread, ThreadData* data);

    ThreadData* data_;
    u32 threadId_;
    std::atomic<i32> error_;
    std::atomic<i32> running_;
    std::atomic<u32> joinLimit_;
};

}  // namespace LxObjects
