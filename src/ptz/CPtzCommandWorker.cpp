#include "ptz/CPtzCommandWorker.h"

#include "device/CDeviceProfile.h"
#include "platform/CLockWrap.h"
#include "platform/CStrUtil.h"

using media_util::CLockWrap;

CPtzCommandWorker::CPtzCommandWorker(CDeviceProfile* dialect, CHttpLink* link,
                                     const std::string& deviceAddress)
    : mpProfile(dialect), mpLink(link) {
    if (!deviceAddress.empty())
        mDeviceUrl.Crack(deviceAddress);
}

CPtzCommandWorker::~CPtzCommandWorker() {
    // The thread calls Job, which uses the members: it ends first.
    Stop();
}

bool CPtzCommandWorker::Append(const std::vector<std::string>& commands, bool isMove) {
    {
        CLockWrap lock(mLock);
        if (isMove && mQueue.size() >= kMaxQueuedMoves) {
            // The camera is behind: the newest move stands for the ones
            // before it that have not gone out yet.
            if (mIsMove.empty() || !mIsMove.back() || commands.size() != 1)
                return false;
            mQueue.back() = commands.front();
            return true;
        }
        if (!isMove && mQueue.size() + commands.size() > kMaxQueued) {
            // A stop (a wheel step ends in one) supersedes the moves waiting.
            for (size_t i = mQueue.size(); i-- > 0;) {
                if (mIsMove[i]) {
                    mQueue.erase(mQueue.begin() + static_cast<std::ptrdiff_t>(i));
                    mIsMove.erase(mIsMove.begin() + static_cast<std::ptrdiff_t>(i));
                }
            }
            // Full of stops and wheel steps, all ending in a stop: one more
            // changes nothing the camera does.
            if (mQueue.size() + commands.size() > kMaxQueued)
                return false;
        }
        for (const std::string& command : commands) {
            mQueue.push_back(command);
            mIsMove.push_back(isMove);
        }
    }
    Wake();
    return true;
}

std::vector<std::string> CPtzCommandWorker::Queued() {
    CLockWrap lock(mLock);
    return std::vector<std::string>(mQueue.begin(), mQueue.end());
}

bool CPtzCommandWorker::TakeFirst(std::string* command) {
    CLockWrap lock(mLock);
    if (mQueue.empty())
        return false;
    *command = std::move(mQueue.front());
    mQueue.pop_front();
    mIsMove.pop_front();
    return true;
}

void CPtzCommandWorker::Send(const std::string& command) {
    const size_t prefix = std::char_traits<char>::length(kSleepPrefix);
    if (command.compare(0, prefix, kSleepPrefix) == 0) {
        const int ms = media_util::CStrUtil::ParseInt(command.substr(prefix));
        // A pause ends early only when the worker is stopped.
        if (ms > 0)
            mStopEvent.Wait(static_cast<DWORD>(ms));
        return;
    }
    if (mpProfile == nullptr)
        return;
    std::string answer;
    // The camera's answer changes nothing: the next command goes out anyway.
    mpProfile->SetParam(mpLink, &mDeviceUrl, kCommandKey, command, answer);
}

int CPtzCommandWorker::Job() {
    if (IsRunning() == 0)
        return 0;
    while (IsRunning() != 0) {
        std::string command;
        if (TakeFirst(&command)) {
            Send(command);
            ++mTaken;
            continue;
        }
        // Nothing to send: wait for a command (Append wakes) or the stop.
        mWakeEvent.Wait(kIdleWaitMs);
        mWakeEvent.Reset();
    }
    return 0;
}
