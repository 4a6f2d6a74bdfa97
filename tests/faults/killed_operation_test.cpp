// SPDX-License-Identifier: GPL-3.0-or-later
// A process killed in the middle of an operation on a diskette file: a child runs the
// operation and is killed with SIGKILL at sampled points, some at a drive request, some
// while the finished operation saves the file. Whatever the point, the file on disk must be
// the diskette as it was or wholly as the finished operation leaves it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "boot/localclock.h"
#include "drive/backend/files/virtualdrive.h"
#include "format/format.h"
#include "image/duplicate.h"
#include "fat/damageddiskette.h"
#include "support/imagediskfile.h"

using namespace vokta;
using namespace vokta::test;

namespace {

// Runs an operation on drive A: of the table.
using Operation = std::function<OperationOutcome(const DriveTable& drives, OperationHost& host)>;

constexpr uint32_t kNever = UINT32_MAX;

struct ChildRun {
    uint32_t requests = 0;  // the requests the parent let through
    // The longest time the child worked between two requests (or after the last one), and
    // the request it followed: where a finished operation writes its diskette file.
    std::chrono::microseconds longestPause {0};
    uint32_t pauseAfter = 0;
    bool killed = false;
    int exitStatus = -1;
};

// Runs the operation on the diskette file at `path` in a child that tells the parent of each request through one pipe and
// waits for the parent's word through another before the drive sees it. The parent lets
// requests through up to request `killAt`, lets the child run on for `delay`, and kills it.
ChildRun RunChild(const Operation& operation, const std::string& path, uint32_t killAt,
                  std::chrono::microseconds delay)
{
    ChildRun run;
    int told[2], go[2];
    if (pipe(told) != 0 || pipe(go) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return run;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        for (const int end : {told[0], told[1], go[0], go[1]})
            close(end);
        return run;
    }
    if (pid == 0) {
        close(told[0]);
        close(go[1]);
        DriveTable drives;
        std::shared_ptr<RecordingService> recorder = BindRecordedFile(drives, 'A', path, DriveKind::Floppy35HD);
        if (!recorder)
            _exit(2);
        uint32_t count = 0;
        recorder->faultHook = [&](const DiskRequest&) -> std::optional<InjectedFault> {
            ++count;
            char word = 0;
            if (write(told[1], &count, sizeof count) != sizeof count || read(go[0], &word, 1) != 1)
                _exit(3);
            return std::nullopt;
        };
        ScriptedHost host;
        const int result = operation(drives, host).result;
        // The diskette file is saved when its last user lets it go.
        recorder.reset();
        drives.Unbind('A');
        _exit(result == kResultDone ? 0 : 1);
    }
    close(told[1]);
    close(go[0]);
    auto last = std::chrono::steady_clock::now();
    const auto pauseEnds = [&] {
        using std::chrono::microseconds;
        const auto pause = std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - last);
        if (pause > run.longestPause) {
            run.longestPause = pause;
            run.pauseAfter = run.requests;
        }
    };
    uint32_t count = 0;
    while (read(told[0], &count, sizeof count) == sizeof count) {
        pauseEnds();
        run.requests = count;
        const char word = 1;
        if (write(go[1], &word, 1) != 1)
            break;
        last = std::chrono::steady_clock::now();
        if (count == killAt) {
            std::this_thread::sleep_for(delay);
            run.killed = kill(pid, SIGKILL) == 0;
            break;
        }
    }
    while (read(told[0], &count, sizeof count) == sizeof count) {
    }
    if (!run.killed)
        pauseEnds();
    close(told[0]);
    close(go[1]);
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.exitStatus = WEXITSTATUS(status);
    return run;
}

// An ImageDisk file's header line carries the time of its saving.
std::vector<uint8_t> WithoutTimestamp(std::vector<uint8_t> bytes, bool imageDisk)
{
    if (!imageDisk)
        return bytes;
    static constexpr uint8_t kLineEnd[] = {'\r', '\n'};
    bytes.erase(bytes.begin(), std::ranges::search(bytes, kLineEnd).begin());
    return bytes;
}

struct KilledOperation : DamagedDiskette {
    std::mt19937 random {20261208};

    void SetUp() override
    {
        DamagedDiskette::SetUp();
        if (IsSkipped())
            return;
        // The boot sector's serial number is the time of the format: every run the same one.
        SetLocalClock([] { return LocalTime {2026, 12, 8, 2, 11, 22, 33}; });
        ASSERT_NO_FATAL_FAILURE(Make("KILLED"));
    }
    void TearDown() override { SetLocalClock({}); }

    // The files beside `file` whose names begin with its own: temporary files of its saves.
    std::vector<std::filesystem::path> Temporaries(const std::string& file) const
    {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            if (entry.path().string().rfind(file + ".", 0) == 0)
                found.push_back(entry.path());
        return found;
    }

    // Kills the operation on `file` at `points` sampled points: half at a drive request,
    // half in its longest pause between requests, where it saves the file.
    void Sweep(const std::string& file, const Operation& operation, int points)
    {
        const bool imageDisk = FormatForName(file) == DisketteFileFormat::Imd;
        const std::vector<uint8_t> original = ReadFile(file);
        ASSERT_EQ(chmod(file.c_str(), 0640), 0);

        // The finished operation on a copy, in a child like the others.
        const std::string copy = dir.File(imageDisk ? "finished.imd" : "finished.img");
        WriteFile(copy, original);
        ASSERT_EQ(chmod(copy.c_str(), 0640), 0);
        const ChildRun finished = RunChild(operation, copy, kNever, {});
        ASSERT_EQ(finished.exitStatus, 0) << "the operation itself fails";
        const std::vector<uint8_t> finishedState = WithoutTimestamp(ReadFile(copy), imageDisk);
        ASSERT_NE(finishedState, WithoutTimestamp(original, imageDisk));
        struct stat st {};
        ASSERT_EQ(stat(copy.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u) << "the saved file keeps its permissions";
        ASSERT_GT(finished.requests, 10u);

        int asBefore = 0, asAfter = 0;
        for (int i = 0; i < points; ++i) {
            WriteFile(file, original);
            const bool atRequest = i % 2 == 0;
            const uint32_t killAt = atRequest ? std::uniform_int_distribution<uint32_t>(1, finished.requests)(random)
                                              : finished.pauseAfter;
            const auto delay = atRequest ? std::chrono::microseconds(0)
                                         : std::chrono::microseconds(std::uniform_int_distribution<int64_t>(
                                               0, finished.longestPause.count())(random));
            const ChildRun run = RunChild(operation, file, killAt, delay);
            const std::vector<uint8_t> now = WithoutTimestamp(ReadFile(file), imageDisk);
            const bool same = now == WithoutTimestamp(original, imageDisk);
            asBefore += same;
            asAfter += now == finishedState;
            EXPECT_TRUE(same || now == finishedState)
                << "killed at request " << killAt << " and " << delay.count() << " us: the file is "
                << now.size() << " bytes of neither state";
            EXPECT_TRUE(run.killed || run.exitStatus == 0) << "a child that was not killed finished its work";
            // Only a kill in the instant between naming the new file and renaming it could
            // leave one behind, and a kill at a request is never there.
            const std::vector<std::filesystem::path> left = Temporaries(file);
            if (atRequest) {
                EXPECT_TRUE(left.empty()) << "killed at request " << killAt << " left " << left.front();
            }
            for (const auto& path : left)
                std::filesystem::remove(path);
        }
        std::printf("%u requests, the save after request %u (%lld us); "
                    "%d kills: %d left the file as before, %d as after\n",
                    finished.requests, finished.pauseAfter, static_cast<long long>(finished.longestPause.count()),
                    points, asBefore, asAfter);
    }
};

constexpr int kPoints = 12;

}  // namespace

TEST_F(KilledOperation, WriteDiskWithVerifyOntoADisketteFile)
{
    const std::string file = dir.File("target.img");
    WriteFile(file, FatImage(kMedia144M));
    const std::vector<uint8_t> source = before;
    Sweep(file, [&](const DriveTable& drives, OperationHost& childHost) {
        DuplicateJob write;
        write.driveText = "A:";
        write.verifyAfterWrite = true;
        write.image->data = source;
        write.image->mediaType = kMedia144M;
        write.drives = drives;
        return WriteDiskWorker(write, childHost);
    }, kPoints);
    EXPECT_EQ(ReadFile(dir.File("finished.img")), source) << "the finished write holds the image";
}

TEST_F(KilledOperation, FullFormatWithVerifyOfAnImageDiskFile)
{
    const std::string file = dir.File("format.imd");
    WriteImageDiskFile(file, kMedia144M, before);
    Sweep(file, [](const DriveTable& drives, OperationHost& childHost) {
        FormatJob format;
        format.inputs->driveText = "A:";
        format.inputs->media = kMedia144M;
        format.inputs->label = "FRESH";
        format.drives = drives;
        return FormatWorker(format, childHost);
    }, kPoints);
}

TEST_F(KilledOperation, RepairThatReformatsADataTrack)
{
    // BIG.BIN's 44th cluster, recorded with a data error: the repair reformats its track
    // and writes back what it could read.
    WriteImageDiskFile(damaged, type, before, 80);
    job.inputs->data = DataChoice::TryFormat;
    Sweep(damaged, [&](const DriveTable& drives, OperationHost& childHost) {
        RepairJob repair = job;
        repair.drives = drives;
        return RepairWorker(repair, childHost);
    }, kPoints);
}
