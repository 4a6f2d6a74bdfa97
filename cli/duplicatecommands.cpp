// SPDX-License-Identifier: GPL-3.0-or-later
// read, write and compare: the duplication operations through a memory image.
#include <sys/stat.h>

#include "cli/cli.h"
#include "cli/terminalhost.h"
#include "drive/replacementfile.h"
#include "res/strings.h"
#include "image/duplicate.h"

namespace vokta::cli {
namespace {

DuplicateJob MakeJob(Context& context, char letter)
{
    DuplicateJob job;
    job.driveText = std::string(1, letter) + ":";
    job.drives = context.drives;
    return job;
}

// Loads the image file, then runs the operation with it on the drive.
template <typename Operation>
int LoadThenRun(Context& context, const std::string& path, char letter, Operation operation)
{
    TerminalHost host(context);
    DuplicateJob job = MakeJob(context, letter);
    if (LoadImageFile(*job.image, path, host) != 0)
        return Finish(context, {kResultFailed});
    job.serialField = job.image->serialText;
    return Finish(context, operation(std::move(job), host));
}

}  // namespace

int ReadCommand(Context& context, const Arguments& args)
{
    TerminalHost host(context);
    const std::string& path = args.operands[1];
    // A file nothing can be saved into is told before the diskette is read, not after.
    if (const std::optional<std::string> refusal = SaveTargetRefusal(path)) {
        host.MessageBox(path + ": " + *refusal, LoadString(Str::Error), Buttons::Ok, Icon::Error);
        return Finish(context, {kResultFailed});
    }
    // A script that names an image twice keeps the first one.
    if (struct stat st{}; !args.Has("--force") && lstat(path.c_str(), &st) == 0) {
        host.MessageBox(FormatString(Str::ImageExistsNoForce, path), LoadString(Str::Error), Buttons::Ok, Icon::Error);
        return Finish(context, {kResultFailed});
    }
    DuplicateJob job = MakeJob(context, args.Drive(0));
    const std::shared_ptr<DiskImage> image = job.image;
    OperationOutcome outcome = ReadDiskWorker(std::move(job), host);
    // The page's follow-up of a read, on a terminal: the image goes to its file.
    if (outcome.followUp == FollowUp::ImageRead && !SaveImageFile(*image, path, host))
        outcome.result = kResultFailed;
    return Finish(context, outcome);
}

int WriteCommand(Context& context, const Arguments& args)
{
    return LoadThenRun(context, args.operands[0], args.Drive(1), [&](DuplicateJob job, OperationHost& host) {
        job.verifyAfterWrite = !args.Has("--no-verify");
        job.multiWrite = args.Has("--multi");
        return WriteDiskWorker(std::move(job), host);
    });
}

int CompareCommand(Context& context, const Arguments& args)
{
    return LoadThenRun(context, args.operands[0], args.Drive(1), CompareWorker);
}

}  // namespace vokta::cli
