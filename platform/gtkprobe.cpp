#include "platform/gtkprobe.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef Status  // Xlib's type macro, not wanted in the code below
#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "base/exception.h"

namespace platform::gui {

void SetEnvironment(const std::string& name, const std::string& value) {
  if (value.empty()) ::unsetenv(name.c_str());
  else ::setenv(name.c_str(), value.c_str(), 1);
}

TTiedProcess::TTiedProcess(const std::vector<std::string>& argv) {
  if (argv.empty()) throw Exception("no program to start");
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) throw Exception("cannot start " + argv[0]);
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);  // the parent ended before the tie was made
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  FPid = pid;
}

bool TTiedProcess::Running() {
  if (FEnded) return false;
  int status;
  if (::waitpid(FPid, &status, WNOHANG) == FPid) FEnded = true;
  return !FEnded;
}

TTiedProcess::~TTiedProcess() {
  if (!Running()) return;
  ::kill(FPid, SIGTERM);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (Running() && std::chrono::steady_clock::now() < end) ::usleep(10000);
  if (Running()) {
    ::kill(FPid, SIGKILL);
    int status;
    while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

std::string FindProgram(const std::string& name) {
  gchar* path = g_find_program_in_path(name.c_str());
  std::string found = path ? path : "";
  g_free(path);
  return found;
}

bool DisplayAnswers(const std::string& display) {
  ::Display* d = XOpenDisplay(display.c_str());
  if (!d) return false;
  XCloseDisplay(d);
  return true;
}

TRunResult RunProgram(const std::vector<std::string>& argv, int timeoutMs) {
  TRunResult result;
  if (argv.empty()) return result;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return result;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return result;
  }
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::dup2(fds[1], 2);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buf[4096];
  int status = 0;
  bool exited = false, eof = false;
  // Reads until the program has ended (its own children may keep the pipe open).
  while (!exited) {
    if (std::chrono::steady_clock::now() >= end) {
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      exited = true;
    } else if (::waitpid(pid, &status, WNOHANG) == pid) {
      exited = true;
    }
    while (!eof) {
      pollfd p{fds[0], POLLIN, 0};
      const int r = ::poll(&p, 1, exited ? 0 : 50);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      const ssize_t n = ::read(fds[0], buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        eof = true;
        break;
      }
      if (result.Output.size() < (1u << 20)) result.Output.append(buf, size_t(n));
    }
    if (eof && !exited) ::usleep(10000);
  }
  ::close(fds[0]);
  result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

namespace {

// An X display of its own for one call, closed on every path.
struct TDisplay {
  explicit TDisplay(const std::string& name) : FDisplay(XOpenDisplay(name.c_str())) {
    if (!FDisplay) throw Exception("cannot open display " + name);
    // A request on a window that went away must not end the process.
    XSetErrorHandler([](::Display*, XErrorEvent*) { return 0; });
  }
  ~TDisplay() { XCloseDisplay(FDisplay); }
  TDisplay(const TDisplay&) = delete;
  TDisplay& operator=(const TDisplay&) = delete;
  ::Display* FDisplay;
};

}  // namespace

void RequestWindowClose(const std::string& display, unsigned long window) {
  TDisplay d(display);
  XEvent e;
  std::memset(&e, 0, sizeof e);
  e.xclient.type = ClientMessage;
  e.xclient.window = window;
  e.xclient.message_type = XInternAtom(d.FDisplay, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = long(XInternAtom(d.FDisplay, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(d.FDisplay, window, False, NoEventMask, &e);
  XSync(d.FDisplay, False);
}

void CaptureWindowPng(const std::string& display, unsigned long window, const std::string& path) {
  TDisplay d(display);
  XWindowAttributes attr;
  if (!XGetWindowAttributes(d.FDisplay, window, &attr) || attr.width <= 0 || attr.height <= 0)
    throw Exception("no such window");
  XImage* img = XGetImage(d.FDisplay, window, 0, 0, unsigned(attr.width), unsigned(attr.height),
                          AllPlanes, ZPixmap);
  if (!img) throw Exception("cannot read the window's picture");
  GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, attr.width, attr.height);
  if (!pb) {
    XDestroyImage(img);
    throw Exception("out of memory");
  }
  guchar* px = gdk_pixbuf_get_pixels(pb);
  const int stride = gdk_pixbuf_get_rowstride(pb);
  for (int y = 0; y < attr.height; ++y)
    for (int x = 0; x < attr.width; ++x) {
      const unsigned long v = XGetPixel(img, x, y);
      guchar* p = px + size_t(y) * size_t(stride) + size_t(x) * 3;
      p[0] = guchar((v & img->red_mask) >> __builtin_ctzl(img->red_mask ? img->red_mask : 1));
      p[1] = guchar((v & img->green_mask) >> __builtin_ctzl(img->green_mask ? img->green_mask : 1));
      p[2] = guchar((v & img->blue_mask) >> __builtin_ctzl(img->blue_mask ? img->blue_mask : 1));
    }
  XDestroyImage(img);
  GError* err = nullptr;
  const gboolean ok = gdk_pixbuf_save(pb, path.c_str(), "png", &err, nullptr);
  g_object_unref(pb);
  if (!ok) {
    std::string msg = err ? err->message : "cannot write the PNG file";
    if (err) g_error_free(err);
    throw Exception(msg);
  }
}

}  // namespace platform::gui
