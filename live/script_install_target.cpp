#include "live/script_install_target.h"

#include <QFile>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace norv {

namespace {

// Whether `gid` is the private group of `user` (the group of the user's own name that is their
// primary group and lists nobody), which lets no one else write where it may.
bool isPrivateGroup(gid_t gid, uid_t user) {
    std::vector<char> buffer(16384);
    passwd account {};
    passwd* foundAccount = nullptr;
    if (::getpwuid_r(user, &account, buffer.data(), buffer.size(), &foundAccount) != 0 || !foundAccount ||
        account.pw_gid != gid)
        return false;
    const std::string name = account.pw_name;
    group entry {};
    group* foundGroup = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &foundGroup) != 0 || !foundGroup)
        return false;
    return name == entry.gr_name && (!entry.gr_mem || !entry.gr_mem[0]);
}

bool writableByOthers(const struct stat& status, uid_t user) {
    if (status.st_mode & S_IWOTH) return true;
    return (status.st_mode & S_IWGRP) && !isPrivateGroup(status.st_gid, user);
}

}  // namespace

std::optional<QString> ScriptInstallTarget::refusal(const QString& library, uid_t user) {
    const struct {
        QString path;
        QString name;
    } folders[] = {
        {library, QStringLiteral("The User Library")},
        {library + QStringLiteral("/Remote Scripts"), QStringLiteral("The User Library's Remote Scripts folder")},
        {library + QStringLiteral("/Remote Scripts/NorvSession"),
         QStringLiteral("The User Library's NorvSession script")},
    };
    for (const auto& folder : folders) {
        struct stat status {};
        if (::lstat(QFile::encodeName(folder.path).constData(), &status) != 0) {
            // Missing: the install makes it, and what it would hold.
            if (errno == ENOENT) return std::nullopt;
            return QStringLiteral("%1 cannot be examined: %2").arg(folder.name, QString::fromLocal8Bit(std::strerror(errno)));
        }
        if (S_ISLNK(status.st_mode)) return QStringLiteral("%1 is a symbolic link").arg(folder.name);
        if (status.st_uid != user) return QStringLiteral("%1 belongs to another user").arg(folder.name);
        if (writableByOthers(status, user)) return QStringLiteral("%1 can be changed by other users").arg(folder.name);
    }
    return std::nullopt;
}

}  // namespace norv
