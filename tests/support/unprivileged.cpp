// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/unprivileged.h"

#include <gtest/gtest.h>
#include <pwd.h>

#include <cerrno>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace vokta::test {

std::optional<std::string> RunAsNobody(const std::function<std::string()>& work)
{
    const passwd* nobody = getpwnam("nobody");
    int link[2];
    if (!nobody || pipe(link) != 0)
        return std::nullopt;
    const pid_t child = fork();
    if (child < 0) {
        close(link[0]);
        close(link[1]);
        return std::nullopt;
    }
    if (child == 0) {
        close(link[0]);
        if (getuid() == 0 && (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0))
            _exit(3);
        const std::string said = work();
        const bool written = write(link[1], said.data(), said.size()) == static_cast<ssize_t>(said.size());
        _exit(written ? 0 : 4);
    }
    close(link[1]);
    std::string said;
    char chunk[512];
    for (ssize_t n; (n = read(link[0], chunk, sizeof chunk)) > 0;)
        said.append(chunk, static_cast<size_t>(n));
    close(link[0]);
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return said;
}

void GiveToUnprivilegedUser(const std::string& folder)
{
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid), 0) << std::strerror(errno);
    }
}

}  // namespace vokta::test
