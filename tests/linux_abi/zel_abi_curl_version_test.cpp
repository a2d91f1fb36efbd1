// The curl tool built for the layer, linked into a host program over a
// stand-in for the few layer calls that "curl -V" makes: it links, its
// entry is curl_main, and it reports the configured build.  Any other
// layer call ends the test with the call's name (see the generated weak
// stubs).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/time.h>

#include "zel_linux_libc.h"

extern "C" int curl_main(int argc, char *argv[]);

namespace {

std::string output;  // everything written to stdout and stderr
int error_number;
zel_linux_fd *const fake_stdout = reinterpret_cast<zel_linux_fd *>(&output);

void write_out(const char *text, size_t size) { output.append(text, size); }

int format_out(const char *format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    write_out(text.data(), static_cast<size_t>(length));
    return length;
}

}  // namespace

extern "C" {

void zel_abi_unexpected_call(const char *name) {
    std::fprintf(stderr, "curl -V called the layer's %s, which this test does not stand in for\n", name);
    std::abort();
}

int *zel_linux_errno_ptr(void) { return &error_number; }
void *zel_linux_malloc(size_t size) { return std::malloc(size); }
void *zel_linux_calloc(size_t count, size_t size) { return std::calloc(count, size); }
void *zel_linux_realloc(void *block, size_t size) { return std::realloc(block, size); }
void zel_linux_free(void *block) { std::free(block); }
char *zel_linux_strdup(const char *text) { return ::strdup(text); }
char *zel_linux_getenv(const char *) { return nullptr; }
zel_linux_time_t zel_linux_time(zel_linux_time_t *out) { return std::time(out); }
int zel_linux_gettimeofday(zel_linux_timeval *now, void *) {
    timeval host{};
    ::gettimeofday(&host, nullptr);
    now->tv_sec = host.tv_sec;
    now->tv_usec = host.tv_usec;
    return 0;
}
int zel_linux_pthread_mutex_init(zel_linux_pthread_mutex_t *, const zel_linux_pthread_mutexattr_t *) { return 0; }
int zel_linux_pthread_mutex_lock(zel_linux_pthread_mutex_t *) { return 0; }
int zel_linux_pthread_mutex_unlock(zel_linux_pthread_mutex_t *) { return 0; }
int zel_linux_pthread_mutex_destroy(zel_linux_pthread_mutex_t *) { return 0; }

zel_linux_fd *zel_linux_stdout(void) { return fake_stdout; }
zel_linux_fd *zel_linux_stderr(void) { return fake_stdout; }
int zel_linux_isatty(int) { return 0; }
int zel_linux_fflush(zel_linux_fd *) { return 0; }
size_t zel_linux_fwrite(const void *buffer, size_t size, size_t count, zel_linux_fd *) {
    write_out(static_cast<const char *>(buffer), size * count);
    return count;
}
int zel_linux_fputs(const char *text, zel_linux_fd *) {
    write_out(text, std::strlen(text));
    return 0;
}
int zel_linux_fputc(int c, zel_linux_fd *) {
    const char byte = static_cast<char>(c);
    write_out(&byte, 1);
    return c;
}
int zel_linux_putchar(int c) { return zel_linux_fputc(c, fake_stdout); }
int zel_linux_puts(const char *text) {
    zel_linux_fputs(text, fake_stdout);
    return zel_linux_fputc('\n', fake_stdout);
}
int zel_linux_vfprintf(zel_linux_fd *, const char *format, va_list args) { return format_out(format, args); }
int zel_linux_vprintf(const char *format, va_list args) { return format_out(format, args); }
int zel_linux_fprintf(zel_linux_fd *, const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int length = format_out(format, args);
    va_end(args);
    return length;
}
int zel_linux_printf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int length = format_out(format, args);
    va_end(args);
    return length;
}

}  // extern "C"

namespace {

std::string line_starting(const std::string &text, const std::string &start) {
    const auto at = text.find("\n" + start);
    if (at == std::string::npos) return "";
    return text.substr(at + 1, text.find('\n', at + 1) - at - 1);
}

TEST(CurlForTheLayer, ReportsTheConfiguredBuild) {
    char name[] = "curl", option[] = "-V";
    char *argv[] = {name, option, nullptr};
    output = "\n";
    EXPECT_EQ(curl_main(2, argv), 0);

    EXPECT_EQ(line_starting(output, "curl "), "curl 7.81.0-DEV (zel) libcurl/7.81.0-DEV mbedTLS/2.28.3");
    EXPECT_EQ(line_starting(output, "Protocols: "),
        "Protocols: dict file ftp ftps gopher gophers http https imap imaps mqtt pop3 pop3s rtsp smtp smtps "
        "telnet tftp");
    const auto features = line_starting(output, "Features: ") + " ";
    EXPECT_NE(features.find(" AsynchDNS "), std::string::npos) << features;
    EXPECT_NE(features.find(" NTLM "), std::string::npos) << features;
    EXPECT_EQ(features.find(" IPv6 "), std::string::npos) << features;
    EXPECT_EQ(features.find(" libz "), std::string::npos) << features;
    EXPECT_EQ(features.find(" NTLM_WB "), std::string::npos) << features;
}

}  // namespace
