// lib/sound/sound.h - the sound subsystem's services for the rest of the
// library: start and end (called by the library start and end) and the
// servicing of stream sounds and PCM players from the message pump.
#pragma once

// 0 on success; -1 on failure or when already started. Logs each step.
int InitializeSoundSystem();
// 0, or -1 when the system is not started.
int TerminateSoundSystem();
// Refills every playing stream sound; 0, or -1 when sound is not started.
int RefillAllStreamSounds();
// Services every active PCM player; 0, or -1 when sound is not started.
int UpdateAllPcmPlayers();
// 1 when no sound thread runs (one logical processor, or the thread could not
// be made), so the message pump must call the two services above; else 0.
int SoundNeedsPumpService();
// What the message pump calls on each pass: the two services above when
// SoundNeedsPumpService() is 1, nothing otherwise. 0.
int ServiceSoundFromPump();
// Stops and deletes the music that plays (a sound handle or a MIDI
// handle); 0, also when none plays.
int StopMusicPlayback();
// Polls each playing MIDI handle of the performance mode; 0, or -1 when
// sound is not started.
int UpdateMusicPlayState();
// The sequencer's end-of-playback notification: plays again from the start
// while the music loops, else closes the device. 0.
int OnMciMidiNotify();

// The message pump the sound code runs while it waits (provided by the
// window system): 0, or -1 once the program is asked to end.
int PumpWindowMessages();
