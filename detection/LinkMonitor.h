#pragma once

#include "HostInterfaces.h"

// The kernel's link notifications (rtnetlink, RTMGRP_LINK): an interface appearing, going away,
// changing its address or its up state. Lets the worker look at once instead of at its next
// once-a-second tick. Where no such socket can be had, fd() is -1 and the tick alone serves.
class LinkMonitor : public LinkChanges
{
public:
    LinkMonitor();
    ~LinkMonitor() override;
    LinkMonitor(const LinkMonitor &) = delete;
    LinkMonitor &operator=(const LinkMonitor &) = delete;

    int fd() const override { return m_fd; }
    // Reads every notification waiting; true when one of them was about a link.
    bool drain() override;

private:
    int m_fd = -1;
};

// Wakes a thread that waits on fd() (an eventfd) from any other thread.
class WakeUpSignal
{
public:
    WakeUpSignal();
    ~WakeUpSignal();
    WakeUpSignal(const WakeUpSignal &) = delete;
    WakeUpSignal &operator=(const WakeUpSignal &) = delete;

    int fd() const { return m_fd; }
    void wake();
    void clear();

private:
    int m_fd = -1;
};
