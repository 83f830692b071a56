#include "app/SignalPipe.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace loader
{
namespace
{

int signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int signal)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t wrote = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

extern "C" void OnFailedWrite(int) {}

} // namespace

TSignalPipe::TSignalPipe(std::initializer_list<int> caught, std::function<void(int signal)> handler)
    : handler_(std::move(handler))
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Deliver(); });
    struct sigaction action {
    };
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : caught) {
        struct sigaction previous {
        };
        if (::sigaction(signal, &action, &previous) == 0)
            previous_.emplace_back(signal, previous);
    }
}

TSignalPipe::~TSignalPipe()
{
    for (const auto &[signal, previous] : previous_)
        ::sigaction(signal, &previous, nullptr);
    notifier_.reset();
    for (int &fd : signalPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void TSignalPipe::Deliver()
{
    unsigned char bytes[16];
    ssize_t got;
    while ((got = ::read(signalPipe[0], bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < got; ++i)
            handler_(bytes[i]);
}

std::string SignalName(int signal)
{
    const char *abbreviation = ::sigabbrev_np(signal);
    return abbreviation ? std::string("SIG") + abbreviation : "signal " + std::to_string(signal);
}

void SurviveFailedWrites()
{
    struct sigaction action {
    };
    action.sa_handler = OnFailedWrite;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGPIPE, SIGXFSZ})
        ::sigaction(signal, &action, nullptr);
}

} // namespace loader
