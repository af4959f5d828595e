// Beeps and sound files. The host's beep and sound callbacks
// (ui_callbacks.h) come first; then an installed provider; without either a beep
// is silent and lasts its duration (at most 60 s), and a sound file is
// played to its end by $QO_PLAYSOUND (a program given the file as its one
// argument) or the first of paplay, aplay and play found on PATH.
#ifndef QOTOOL_PLATFORM_SOUND_H
#define QOTOOL_PLATFORM_SOUND_H

namespace qotool::platform {

struct SoundProvider {
    int (*beep)(unsigned frequency, unsigned durationMs);  // non-zero on success
    bool (*play)(const char* gbkFile);                     // true when played
};

// Non-zero on success (the default always succeeds).
int Beep(unsigned frequency, unsigned durationMs);
// True when the file was played; false when it could not be, or no player
// exists.
bool PlaySoundFile(const char* gbkFile);

// Installs the provider (null: the default); returns the previous one.
const SoundProvider* SetSoundProvider(const SoundProvider* provider);

}  // namespace qotool::platform

#endif
