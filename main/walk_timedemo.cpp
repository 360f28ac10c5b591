// --timedemo: a walk replayed as fast as the machine draws, one frame per
// tick, then one line with the counts, the rate and where a frame's time
// goes: the ground, the sky, and presenting the back buffer.
#include <chrono>
#include <cstdio>

#include "core/view_geometry.h"
#include "render/fast/ground_fast.h"
#include "shell.h"
#include "walk.h"

int RunTimedemo(WalkSession& walk, World& world, GroundRenderer& ground, BITMAP* backbuffer, BITMAP* view,
                ViewerState& viewer)
{
    using Clock = std::chrono::steady_clock;
    std::chrono::duration<double> groundTime{0}, skyTime{0}, presentTime{0};
    long frames = 0;
    const auto start = Clock::now();
    while (!walk.Finished()) {
        // Frame k shows the pose and the animation after k ticks, as a
        // screenshot taken at tick k does.
        const auto beforeSky = Clock::now();
        world.DrawSky(view, viewer.x, viewer.y, ViewHeightIndex, viewer.angle, Horizon);
        const auto beforeGround = Clock::now();
        ground.Draw(world, view, viewer.x, viewer.y, ViewHeightIndex, viewer.angle, Horizon);
        const auto beforePresent = Clock::now();
        blit(backbuffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
        const auto end = Clock::now();
        skyTime += beforeGround - beforeSky;
        groundTime += beforePresent - beforeGround;
        presentTime += end - beforePresent;
        frames++;

        RunWalkTick(viewer, world, walk.NextKeys());
        if (key[KEY_ESC] || gquit)
            break;
    }
    const std::chrono::duration<double> run = Clock::now() - start;
    const double seconds = run.count();
    const double perFrame = frames > 0 ? 1000.0 / frames : 0.0;
    std::printf("timedemo %zu ticks %ld frames %.3f seconds %.1f fps; ms per frame: ground %.3f sky %.3f "
                "present %.3f\n",
                walk.TicksTaken(), frames, seconds, seconds > 0 ? frames / seconds : 0.0,
                groundTime.count() * perFrame, skyTime.count() * perFrame, presentTime.count() * perFrame);
    std::fflush(stdout);
    return 0;
}
