// d88mount: a D88 file as a folder per disk, through FUSE. Reads come from
// the image; a table file written is put back at its last close or fsync,
// as d88put puts back a folder, and the mount holds d88put's lock for its
// whole life. One thread serves every call, so that a put back is never
// under way twice.
#define FUSE_USE_VERSION 31

#include <fuse.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/platform.h"
#include "cli/version.h"
#include "mount/mount_tree.h"

namespace {

bool foreground = false;

void logLine(const std::string& line) {
  if (foreground) {
    std::fprintf(stderr, "d88mount: %s\n", line.c_str());
  } else {
    syslog(line.rfind("error: ", 0) == 0 ? LOG_ERR : LOG_NOTICE, "%s", line.c_str());
  }
}

MountTree tree(logLine);

MountTree::Handle* handleOf(const fuse_file_info* info) {
  return reinterpret_cast<MountTree::Handle*>(static_cast<std::uintptr_t>(info->fh));
}

void fill(struct stat* out, const MountStat& entry) {
  std::memset(out, 0, sizeof(*out));
  out->st_mode = static_cast<mode_t>((entry.folder ? S_IFDIR : S_IFREG) | entry.mode);
  out->st_nlink = entry.folder ? 2 : 1;
  out->st_size = static_cast<off_t>(entry.size);
  out->st_blocks = static_cast<blkcnt_t>((entry.size + 511) / 512);
  out->st_uid = getuid();
  out->st_gid = getgid();
  const platform::FileStamp& stamp = tree.stamp();
  out->st_mtim.tv_sec = static_cast<time_t>(stamp.modified / 1000000000);
  out->st_mtim.tv_nsec = static_cast<long>(stamp.modified % 1000000000);
  out->st_atim = out->st_mtim;
  out->st_ctim.tv_sec = static_cast<time_t>(stamp.changed / 1000000000);
  out->st_ctim.tv_nsec = static_cast<long>(stamp.changed % 1000000000);
}

int getattr(const char* path, struct stat* out, fuse_file_info* /*info*/) {
  MountStat entry;
  const int error = tree.stat(tree.parse(path), entry);
  if (error == 0) {
    fill(out, entry);
  }
  return -error;
}

int readdir(const char* path, void* buffer, fuse_fill_dir_t add, off_t /*offset*/,
            fuse_file_info* /*info*/, fuse_readdir_flags /*flags*/) {
  std::vector<std::string> names;
  if (const int error = tree.list(tree.parse(path), names); error != 0) {
    return -error;
  }
  add(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  add(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  for (const std::string& name : names) {
    add(buffer, name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  }
  return 0;
}

int openWith(const char* path, fuse_file_info* info, bool create) {
  const int access = info->flags & O_ACCMODE;
  std::unique_ptr<MountTree::Handle> handle;
  const int error = tree.openFile(tree.parse(path), access != O_RDONLY,
                                  (info->flags & O_TRUNC) != 0, create, handle);
  if (error != 0) {
    if (handle) {
      tree.release(std::move(handle));
    }
    return -error;
  }
  info->fh = reinterpret_cast<std::uintptr_t>(handle.release());
  return 0;
}

int open(const char* path, fuse_file_info* info) {
  return openWith(path, info, false);
}

int create(const char* path, mode_t mode, fuse_file_info* info) {
  const int error = openWith(path, info, true);
  if (error == 0) {
    (void)tree.chmod(tree.parse(path), mode & 0777);
  }
  return error;
}

int read(const char* /*path*/, char* buffer, size_t size, off_t offset, fuse_file_info* info) {
  std::vector<std::uint8_t> bytes;
  if (const int error = tree.read(*handleOf(info), static_cast<std::uint64_t>(offset), size, bytes);
      error != 0) {
    return -error;
  }
  std::memcpy(buffer, bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}

int write(const char* /*path*/, const char* buffer, size_t size, off_t offset,
          fuse_file_info* info) {
  const int error = tree.write(*handleOf(info), static_cast<std::uint64_t>(offset),
                               reinterpret_cast<const std::uint8_t*>(buffer), size);
  return error != 0 ? -error : static_cast<int>(size);
}

int truncate(const char* path, off_t size, fuse_file_info* info) {
  if (size < 0) {
    return -EINVAL;
  }
  if (info != nullptr) {
    return -tree.truncate(*handleOf(info), static_cast<std::uint64_t>(size));
  }
  return -tree.truncate(tree.parse(path), static_cast<std::uint64_t>(size));
}

int flush(const char* /*path*/, fuse_file_info* info) {
  MountTree::Handle& handle = *handleOf(info);
  return -tree.flush(handle, tree.writersOf(handle) <= 1);
}

int fsync(const char* /*path*/, int /*dataOnly*/, fuse_file_info* info) {
  return -tree.flush(*handleOf(info), true);
}

int release(const char* /*path*/, fuse_file_info* info) {
  tree.release(std::unique_ptr<MountTree::Handle>(handleOf(info)));
  return 0;
}

int unlink(const char* path) {
  return -tree.unlink(tree.parse(path));
}

int rename(const char* from, const char* to, unsigned int flags) {
  if ((flags & ~static_cast<unsigned int>(RENAME_NOREPLACE)) != 0) {
    return -EINVAL;
  }
  return -tree.rename(tree.parse(from), tree.parse(to), (flags & RENAME_NOREPLACE) != 0);
}

int chmod(const char* path, mode_t mode, fuse_file_info* /*info*/) {
  return -tree.chmod(tree.parse(path), mode);
}

int chown(const char* path, uid_t user, gid_t group, fuse_file_info* /*info*/) {
  return -tree.chown(tree.parse(path),
                     user == static_cast<uid_t>(-1) ? -1 : static_cast<std::int64_t>(user),
                     group == static_cast<gid_t>(-1) ? -1 : static_cast<std::int64_t>(group));
}

int utimens(const char* path, const timespec* /*times*/, fuse_file_info* /*info*/) {
  return -tree.touch(tree.parse(path));
}

int refuse(const char* /*path*/, mode_t /*mode*/) {
  return -EPERM;
}
int refuseNode(const char* /*path*/, mode_t /*mode*/, dev_t /*device*/) {
  return -EPERM;
}
int refuseLink(const char* /*from*/, const char* /*to*/) {
  return -EPERM;
}
int refusePath(const char* /*path*/) {
  return -EPERM;
}

void* init(fuse_conn_info* /*connection*/, fuse_config* config) {
  // Sizes change with every put back: the kernel asks again each time.
  config->entry_timeout = 0;
  config->attr_timeout = 0;
  config->negative_timeout = 0;
  config->use_ino = 0;
  return nullptr;
}

void destroy(void* /*data*/) {
  for (const std::string& name : tree.unsaved()) {
    logLine("error: " + name + " was still open for writing at unmount: not put back");
  }
}

fuse_operations operations() {
  fuse_operations ops{};
  ops.getattr = getattr;
  ops.readdir = readdir;
  ops.open = open;
  ops.create = create;
  ops.read = read;
  ops.write = write;
  ops.truncate = truncate;
  ops.flush = flush;
  ops.fsync = fsync;
  ops.release = release;
  ops.unlink = unlink;
  ops.rename = rename;
  ops.chmod = chmod;
  ops.chown = chown;
  ops.utimens = utimens;
  ops.mkdir = refuse;
  ops.mknod = refuseNode;
  ops.symlink = refuseLink;
  ops.link = refuseLink;
  ops.rmdir = refusePath;
  ops.init = init;
  ops.destroy = destroy;
  return ops;
}

constexpr char kUsage[] =
    "usage: d88mount D88FILE MOUNTPOINT [--resize] [--read-only] [-f] [-o FUSE_OPTIONS]\n"
    "       fusermount3 -u MOUNTPOINT\n";

constexpr char kHelp[] =
    "Shows a D88 file as a folder per disk (000, 001, ...) holding the files\n"
    "d88extract -a writes. A file written is put back at its last close or\n"
    "fsync, as d88put puts it back; a refusal fails the close.\n"
    "\n"
    "  --resize     a file may change size: later files of its table move\n"
    "  --read-only  mount read-only; the D88 file is not locked\n"
    "  -f           stay in the foreground, log to standard error\n"
    "  -o OPTIONS   FUSE mount options (allow_other is refused)\n"
    "  -h, --help   this help\n"
    "  --version    the version\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> positional;
  MountOptions options;
  std::string fuseOptions;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--resize") {
      options.resize = true;
    } else if (argument == "--read-only") {
      options.readOnly = true;
    } else if (argument == "-f") {
      foreground = true;
    } else if (argument == "-o" && i + 1 < argc) {
      fuseOptions += (fuseOptions.empty() ? "" : ",") + std::string(argv[++i]);
    } else if (argument == "-h" || argument == "--help") {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return 0;
    } else if (argument == "--version") {
      std::printf("d88mount %s\n", D88_VERSION);
      return 0;
    } else if (!argument.empty() && argument[0] == '-') {
      std::fprintf(stderr, "d88mount: unknown option %s\n%s", argument.c_str(), kUsage);
      return 2;
    } else {
      positional.push_back(argument);
    }
  }
  if (positional.size() != 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  for (std::size_t start = 0; start <= fuseOptions.size();) {
    const std::size_t end = std::min(fuseOptions.find(',', start), fuseOptions.size());
    const std::string option = fuseOptions.substr(start, end - start);
    if (option == "allow_other" || option == "allow_root") {
      std::fprintf(stderr, "error: d88mount is only for the user who mounts it: no %s\n",
                   option.c_str());
      return 2;
    }
    start = end + 1;
  }
  if (const std::string error = tree.open(positional[0], options); !error.empty()) {
    std::fprintf(stderr, "error: %s\n", error.c_str());
    return 1;
  }
  std::vector<std::string> arguments = {"d88mount", "-o",
                                        "fsname=d88mount,subtype=d88mount,default_permissions"};
  if (options.readOnly) {
    arguments.back() += ",ro";
  }
  if (!fuseOptions.empty()) {
    arguments.push_back("-o");
    arguments.push_back(fuseOptions);
  }
  std::vector<char*> pointers;
  for (std::string& argument : arguments) {
    pointers.push_back(argument.data());
  }
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(pointers.size()), pointers.data());
  const fuse_operations ops = operations();
  fuse* session = fuse_new(&args, &ops, sizeof(ops), nullptr);
  if (session == nullptr) {
    return 1;
  }
  int status = 1;
  if (fuse_mount(session, positional[1].c_str()) == 0) {
    if (!foreground) {
      openlog("d88mount", LOG_PID, LOG_USER);
    }
    if (fuse_daemonize(foreground ? 1 : 0) == 0 &&
        fuse_set_signal_handlers(fuse_get_session(session)) == 0) {
      // A signal's number when SIGINT, SIGTERM or SIGHUP ended the loop: the
      // mount then ends as cleanly as at fusermount3 -u.
      status = fuse_loop(session) < 0 ? 1 : 0;
      fuse_remove_signal_handlers(fuse_get_session(session));
    }
    fuse_unmount(session);
  } else {
    std::fprintf(stderr, "error: cannot mount on %s\n", positional[1].c_str());
  }
  fuse_destroy(session);
  return status;
}
