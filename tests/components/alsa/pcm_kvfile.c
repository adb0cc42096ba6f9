/* An ALSA device over a raw file: 16-bit mono samples at whatever rate the
 * client opens it with, paced by the clock. Capture records the file, then
 * silence once it ends; playback appends to the file (made by the test, so
 * that no probing open starts it anew). It lets a test put known samples
 * behind the default devices of a machine that has no sound card.
 *
 *   pcm_type.kvfile { lib "/path/to/libasound_module_pcm_kvfile.so" }
 *   pcm.!default { type asym
 *                  capture.pcm { type kvfile file "/path/to/input.raw" }
 *                  playback.pcm { type kvfile file "/path/to/output.raw" } }
 *
 * Capture never overruns: when the reader falls a whole buffer behind, the
 * clock waits for it, so every sample of the file reaches the reader in
 * order. Playback never underruns: the clock never passes what was written,
 * so what a writer plays late is played all the same, after what came before.
 *
 * ALSA learns how far the device got only as a position within the buffer,
 * and takes the distance from the position it saw last: a step of a whole
 * buffer reads as no step at all, after which the reader would wait forever
 * for samples the clock holds back for it. So one look never moves the
 * position by a whole buffer, and it never moves backwards.
 *
 * The clock starts at the first look after start, not at start itself: a
 * reader may start the device with a read whose samples it throws away (to
 * empty what an earlier run left), and that read must find nothing, however
 * long the machine kept it between starting and looking. */
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

typedef struct {
    snd_pcm_ioplug_t io;
    int file;          /* the raw file; for capture, -1 once it has ended */
    int timer;         /* poll descriptor: fires once a period */
    int clocked;       /* the clock has started (at the first look after start) */
    uint64_t start_ns; /* clock time of frame 0, moved on while the clock is held */
    uint64_t done;     /* frames recorded or played since start: what ALSA has been told */
    uint64_t moved;    /* frames handed to the reader, or taken from the writer, since prepare */
} kvfile_t;

static int playing(const kvfile_t* k) { return k->io.stream == SND_PCM_STREAM_PLAYBACK; }

static uint64_t now_ns(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint64_t)t.tv_sec * 1000000000u + (uint64_t)t.tv_nsec;
}

static int kvfile_start(snd_pcm_ioplug_t* io) {
    kvfile_t* k = io->private_data;
    struct itimerspec period = {{0, 0}, {0, 0}};
    uint64_t ns = (uint64_t)io->period_size * 1000000000u / io->rate;
    k->clocked = 0;
    k->done = 0;
    period.it_interval.tv_sec = period.it_value.tv_sec = ns / 1000000000u;
    period.it_interval.tv_nsec = period.it_value.tv_nsec = ns % 1000000000u;
    return timerfd_settime(k->timer, 0, &period, NULL) < 0 ? -errno : 0;
}

static int kvfile_stop(snd_pcm_ioplug_t* io) {
    kvfile_t* k = io->private_data;
    struct itimerspec off = {{0, 0}, {0, 0}};
    timerfd_settime(k->timer, 0, &off, NULL);
    return 0;
}

static snd_pcm_sframes_t kvfile_pointer(snd_pcm_ioplug_t* io) {
    kvfile_t* k = io->private_data;
    uint64_t now = now_ns(), clock, limit;
    if (!k->clocked) {
        k->clocked = 1;
        k->start_ns = now;
    }
    clock = (now - k->start_ns) * io->rate / 1000000000u;
    /* At most a buffer ahead of the reader, never past what the writer
     * wrote, and less than a buffer a step. */
    limit = playing(k) ? k->moved : k->moved + io->buffer_size;
    if (limit > k->done + io->buffer_size - 1) limit = k->done + io->buffer_size - 1;
    if (clock > limit) {
        /* The other side is behind, or the step would be too long: hold
         * the clock here and let it go on from this frame. */
        clock = limit;
        k->start_ns = now - clock * 1000000000u / io->rate;
    }
    if (clock > k->done) k->done = clock;
    return (snd_pcm_sframes_t)(k->done % io->buffer_size);
}

static snd_pcm_sframes_t kvfile_transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                                         snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
    kvfile_t* k = io->private_data;
    char* dst = (char*)areas->addr + (areas->first + areas->step * offset) / 8;
    size_t want = size * 2, got = 0;
    if (playing(k)) {
        while (got < want) {
            ssize_t n = write(k->file, dst + got, want - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return n < 0 ? -errno : -EIO;
            got += (size_t)n;
        }
        k->moved += size;
        return (snd_pcm_sframes_t)size;
    }
    while (k->file >= 0 && got < want) {
        ssize_t n = read(k->file, dst + got, want - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(k->file);
            k->file = -1;
            break;
        }
        got += (size_t)n;
    }
    memset(dst + got, 0, want - got);
    k->moved += size;
    return (snd_pcm_sframes_t)size;
}

static int kvfile_prepare(snd_pcm_ioplug_t* io) {
    kvfile_t* k = io->private_data;
    k->moved = k->done = 0;
    return 0;
}

static int kvfile_poll_revents(snd_pcm_ioplug_t* io, struct pollfd* pfd, unsigned int nfds, unsigned short* revents) {
    kvfile_t* k = io->private_data;
    uint64_t ticks;
    (void)pfd;
    (void)nfds;
    if (read(k->timer, &ticks, sizeof ticks) < 0 && errno != EAGAIN) return -errno;
    *revents = snd_pcm_avail_update(io->pcm) >= (snd_pcm_sframes_t)io->period_size ? (playing(k) ? POLLOUT : POLLIN)
                                                                                    : 0;
    return 0;
}

static int kvfile_close(snd_pcm_ioplug_t* io) {
    kvfile_t* k = io->private_data;
    if (k->file >= 0) close(k->file);
    close(k->timer);
    free(k);
    return 0;
}

static const snd_pcm_ioplug_callback_t kvfile_callbacks = {
    .start = kvfile_start,
    .stop = kvfile_stop,
    .pointer = kvfile_pointer,
    .transfer = kvfile_transfer,
    .prepare = kvfile_prepare,
    .poll_revents = kvfile_poll_revents,
    .close = kvfile_close,
};

static int kvfile_constrain(snd_pcm_ioplug_t* io) {
    /* Reads and writes only: the clock's hold counts what the other side
     * moved by what the transfers handed over. */
    static const unsigned int access[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    static const unsigned int format[] = {SND_PCM_FORMAT_S16_LE};
    int err;
    /* Any period and buffer a client asks for, within reason. */
    if ((err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, access)) < 0 ||
        (err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 1, format)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 1)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, 4000, 384000)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 16, 1 << 20)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, 64, 1 << 22)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 1024)) < 0)
        return err;
    return 0;
}

SND_PCM_PLUGIN_DEFINE_FUNC(kvfile) {
    snd_config_iterator_t i, next;
    const char* path = NULL;
    kvfile_t* k;
    int err;
    (void)root;
    snd_config_for_each(i, next, conf) {
        snd_config_t* n = snd_config_iterator_entry(i);
        const char* id;
        if (snd_config_get_id(n, &id) < 0) continue;
        if (!strcmp(id, "comment") || !strcmp(id, "type") || !strcmp(id, "hint")) continue;
        if (!strcmp(id, "file") && snd_config_get_string(n, &path) >= 0) continue;
        SNDERR("kvfile: unknown or bad field %s", id);
        return -EINVAL;
    }
    if (!path) {
        SNDERR("kvfile: no file given");
        return -EINVAL;
    }
    k = calloc(1, sizeof *k);
    if (!k) return -ENOMEM;
    k->file = open(path, (stream == SND_PCM_STREAM_PLAYBACK ? O_WRONLY | O_APPEND : O_RDONLY) | O_CLOEXEC);
    k->timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (k->file < 0 || k->timer < 0) {
        err = -errno;
        SNDERR("kvfile: cannot open %s", path);
        if (k->file >= 0) close(k->file);
        if (k->timer >= 0) close(k->timer);
        free(k);
        return err;
    }
    k->io.version = SND_PCM_IOPLUG_VERSION;
    k->io.name = "kvfile: a raw file as a device";
    k->io.callback = &kvfile_callbacks;
    k->io.private_data = k;
    k->io.poll_fd = k->timer;
    k->io.poll_events = POLLIN; /* the timer's; poll_revents says which way the device is ready */
    if ((err = snd_pcm_ioplug_create(&k->io, name, stream, mode)) < 0) {
        close(k->file);
        close(k->timer);
        free(k);
        return err;
    }
    if ((err = kvfile_constrain(&k->io)) < 0) {
        snd_pcm_ioplug_delete(&k->io);
        return err;
    }
    *pcmp = k->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(kvfile);
