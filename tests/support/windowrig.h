#pragma once

// The main window with its clock session and room, put together as the start-up object does, over a
// configuration the test chooses rather than the store's.

#include "clock/clocksession.h"
#include "mainwindow/digitpanel.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/room.h"
#include "platform/platform.h"

struct WindowRig
{
    WindowRig(SettingsModel &model, const Platform &platform)
        : session(platform.ticks, platform.sound)
        , window(model, session, platform)
        , room(new Room(window, session, platform.store))
    {
        QObject::connect(&window, &fMain::quitting, room, &Room::quit);
    }
    // Form_Load and showPlaced as start-up runs them.
    void open()
    {
        window.Form_Load();
        room->load();
        window.showPlaced();
        room->showPlaced();
    }
    ClockState state() const { return session.snapshot().state; }

    ClockSession session;
    fMain window;
    Room *room; // the window's child
};
