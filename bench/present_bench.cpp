// present_bench [SECONDS]: the floor of the viewer's frame rate. Opens the
// viewer's 640 x 480 window (16 bits per pixel, or 15) and for SECONDS
// (default 10) does nothing but present a 640 x 480 back buffer through the
// same blit to `screen` as the viewer's main loop, then prints how many
// presents a second that made.
#include <allegro.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (!(seconds > 0.0)) {
        std::fprintf(stderr, "usage: present_bench [SECONDS]\n");
        return 2;
    }
    if (allegro_init() != 0) {
        std::fprintf(stderr, "present_bench: cannot start Allegro: %s\n", allegro_error);
        return 1;
    }
    set_color_depth(16);
    if (set_gfx_mode(GFX_AUTODETECT_WINDOWED, 640, 480, 0, 0) < 0) {
        set_color_depth(15);
        if (set_gfx_mode(GFX_AUTODETECT_WINDOWED, 640, 480, 0, 0) < 0) {
            std::fprintf(stderr, "present_bench: cannot open a 640x480 window: %s\n", allegro_error);
            return 1;
        }
    }
    BITMAP* backbuffer = create_bitmap(SCREEN_W, SCREEN_H);
    for (int y = 0; y < backbuffer->h; ++y)
        for (int x = 0; x < backbuffer->w; ++x)
            putpixel(backbuffer, x, y, makecol(x & 255, y & 255, (x ^ y) & 255));

    long presents = 0;
    const auto start = std::chrono::steady_clock::now();
    std::chrono::duration<double> elapsed{};
    do {
        blit(backbuffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
        ++presents;
        elapsed = std::chrono::steady_clock::now() - start;
    } while (elapsed.count() < seconds);

    std::printf("presents %ld seconds %.2f per second %.1f\n", presents, elapsed.count(), presents / elapsed.count());
    destroy_bitmap(backbuffer);
    return 0;
}
