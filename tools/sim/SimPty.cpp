#include "sim/SimPty.h"

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <QSocketNotifier>

SimPty::SimPty(int address, QObject* parent) : QObject(parent), dev(address)
{
    char name[256] = {};
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return;
    termios tio {};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    masterFd = master;
    slaveFd = slave;
    slaveName = QString::fromLocal8Bit(name);

    readNotifier = new QSocketNotifier(masterFd, QSocketNotifier::Read, this);
    connect(readNotifier, &QSocketNotifier::activated, this, &SimPty::onReadable);
    writeNotifier = new QSocketNotifier(masterFd, QSocketNotifier::Write, this);
    writeNotifier->setEnabled(false);
    connect(writeNotifier, &QSocketNotifier::activated, this, &SimPty::onWritable);

    pieceTimer.setSingleShot(true);
    connect(&pieceTimer, &QTimer::timeout, this, &SimPty::sendNext);
}

SimPty::~SimPty()
{
    if (!linkName.isEmpty())
        QFile::remove(linkName);
    // Notifiers go before their descriptor.
    delete readNotifier;
    delete writeNotifier;
    if (masterFd >= 0)
        ::close(masterFd);
    if (slaveFd >= 0)
        ::close(slaveFd);
}

bool SimPty::createSymlink(const QString& path)
{
    if (!isValid())
        return false;
    QFile::remove(path);
    if (::symlink(QFile::encodeName(slaveName).constData(), QFile::encodeName(path).constData()) != 0)
        return false;
    linkName = path;
    return true;
}

void SimPty::onReadable()
{
    char buf[4096];
    QByteArray bytes;
    for (;;) {
        const ssize_t n = ::read(masterFd, buf, sizeof buf);
        if (n > 0) {
            bytes.append(buf, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    if (bytes.isEmpty())
        return;
    inbound.append(bytes);
    const QByteArray reply = dev.feed(bytes);
    emit bytesReceived(bytes);
    if (!silent && !reply.isEmpty())
        send(reply);
}

void SimPty::send(const QByteArray& bytes)
{
    if (!isValid() || bytes.isEmpty())
        return;
    const int size = chunk > 0 ? chunk : bytes.size();
    for (int pos = 0; pos < bytes.size(); pos += size)
        queue.append(bytes.mid(pos, size));
    if (writing.isEmpty() && !pieceTimer.isActive())
        sendNext();
}

void SimPty::sendNext()
{
    if (!writing.isEmpty() || queue.isEmpty())
        return;
    writing = queue.takeFirst();
    flush();
}

void SimPty::onWritable()
{
    flush();
}

void SimPty::flush()
{
    while (!writing.isEmpty()) {
        const ssize_t n = ::write(masterFd, writing.constData(), size_t(writing.size()));
        if (n > 0) {
            writing.remove(0, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // The terminal's buffer is full: go on when it drains.
        writeNotifier->setEnabled(true);
        return;
    }
    writeNotifier->setEnabled(false);
    if (queue.isEmpty()) {
        emit replySent();
        return;
    }
    if (delayMs > 0)
        pieceTimer.start(delayMs);
    else
        QTimer::singleShot(0, this, &SimPty::sendNext);
}
