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
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/platform.h"
#include "cli/tool_text.h"
#include "cli/version.h"
#include "mount/mount_help.h"
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
// The handles the kernel holds, freed at release; those still held when the
// mount ends (a signal with files open) are freed by destroy.
std::set<MountTree::Handle*> liveHandles;

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
  // A close of a file opened only to read has nothing to put back: the
  // kernel need not ask.
  info->noflush = handle->writes ? 0 : 1;
  liveHandles.insert(handle.get());
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
  return -tree.flush(*handleOf(info), true, true);
}

int release(const char* /*path*/, fuse_file_info* info) {
  liveHandles.erase(handleOf(info));
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
  // An unlink is one: no rename to a hidden name while the file is open.
  config->hard_remove = 1;
  return nullptr;
}

void destroy(void* /*data*/) {
  for (const std::string& name : tree.unsaved()) {
    logLine("error: " + name + " was still open for writing at unmount: not put back");
  }
  for (MountTree::Handle* handle : liveHandles) {
    delete handle;
  }
  liveHandles.clear();
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

struct Arguments {
  std::string d88;
  std::string mountPoint;
  MountOptions options;
  std::vector<std::string> fuseOptions;
};

// The options, one line each, in the order the help lists them.
void defineOptions(CLI::App& app, Arguments& arguments, help::Language language) {
  app.add_option("d88file", arguments.d88, mount_help::kD88File.in(language))
      ->required()
      ->type_name("");
  app.add_option("folder", arguments.mountPoint, mount_help::kMountPoint.in(language))
      ->required()
      ->type_name("");
  app.add_flag("--resize", arguments.options.resize, mount_help::kResize.in(language));
  app.add_flag("--read-only", arguments.options.readOnly, mount_help::kReadOnly.in(language));
  app.add_flag("-f", foreground, mount_help::kForeground.in(language));
  // One list per -o, given as often as wanted.
  app.add_option("-o", arguments.fuseOptions, mount_help::kFuseOptions.in(language))
      ->type_name("options")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.footer(mount_help::kUnmount.in(language));
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app;
  const help::Language language = help::languageOfRun();
  cli::prepareCommandLine(app, cli::programName(argc, argv, "d88mount"), "d88mount", language);
  Arguments parsed;
  defineOptions(app, parsed, language);
  if (const auto status = cli::parseCommandLine(app, platform::utf8Arguments(argc, argv))) {
    return *status;
  }
  const MountOptions& options = parsed.options;
  std::string fuseOptions;
  for (const std::string& list : parsed.fuseOptions) {
    fuseOptions += (fuseOptions.empty() ? "" : ",") + list;
  }
  for (std::size_t start = 0; start <= fuseOptions.size();) {
    const std::size_t end = std::min(fuseOptions.find(',', start), fuseOptions.size());
    const std::string option = fuseOptions.substr(start, end - start);
    if (option == "allow_other" || option == "allow_root") {
      std::fprintf(stderr, "error: d88mount is only for the user who mounts it: no %s\n",
                   option.c_str());
      return 1;
    }
    start = end + 1;
  }
  if (const std::string error = tree.open(parsed.d88, options); !error.empty()) {
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
    fuse_opt_free_args(&args);
    return 1;
  }
  int status = 1;
  // libfuse unmounts by this name when the loop ends: given relative, that
  // unmount failed after a signal (EINVAL) and left a dead mount behind.
  std::error_code absoluteError;
  const std::string mountPoint =
      std::filesystem::absolute(parsed.mountPoint, absoluteError).string();
  if (fuse_mount(session, mountPoint.c_str()) == 0) {
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
    std::fprintf(stderr, "error: cannot mount on %s\n", parsed.mountPoint.c_str());
  }
  fuse_destroy(session);
  // fuse_new may have copied the arguments to add its own.
  fuse_opt_free_args(&args);
  return status;
}
