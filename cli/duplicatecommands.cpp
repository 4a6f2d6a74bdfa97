// read, write and compare: the duplication operations through a memory image.
#include "cli/cli.h"
#include "cli/terminalhost.h"
#include "image/duplicate.h"

namespace vokta::cli {
namespace {

// Ends a command: the result text as the last line on stdout, the result as the status.
int Report(Context& context, int result)
{
    std::fprintf(context.out, "%s\n", ResultText(result).c_str());
    return result == kResultDone ? 0 : result == kResultAborted ? 1 : 2;
}

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
        return Report(context, kResultFailed);
    job.serialField = job.image->serialText;
    return Report(context, operation(std::move(job), host).result);
}

}  // namespace

int ReadCommand(Context& context, const Arguments& args)
{
    if (args.size() != 2 || !DriveLetterArgument(args[0]))
        return UsageError(context, "read", "read needs a drive and an image file");
    TerminalHost host(context);
    DuplicateJob job = MakeJob(context, *DriveLetterArgument(args[0]));
    const std::shared_ptr<DiskImage> image = job.image;
    int result = ReadDiskWorker(std::move(job), host).result;
    if (result == kResultDone && !SaveImageFile(*image, args[1], host))
        result = kResultFailed;
    return Report(context, result);
}

int WriteCommand(Context& context, const Arguments& args)
{
    Arguments positional;
    bool verify = true, multi = false;
    for (const std::string& a : args) {
        if (a == "--no-verify")
            verify = false;
        else if (a == "--multi")
            multi = true;
        else
            positional.push_back(a);
    }
    if (positional.size() != 2 || !DriveLetterArgument(positional[1]))
        return UsageError(context, "write", "write needs an image file and a drive");
    return LoadThenRun(context, positional[0], *DriveLetterArgument(positional[1]), [&](DuplicateJob job, OperationHost& host) {
        job.verifyAfterWrite = verify;
        job.multiWrite = multi;
        return WriteDiskWorker(std::move(job), host);
    });
}

int CompareCommand(Context& context, const Arguments& args)
{
    if (args.size() != 2 || !DriveLetterArgument(args[1]))
        return UsageError(context, "compare", "compare needs an image file and a drive");
    return LoadThenRun(context, args[0], *DriveLetterArgument(args[1]), CompareWorker);
}

}  // namespace vokta::cli
