// groundview board files (*.brd) open and save in Tiled like its own maps.
// Opening runs `boardtool export` into a temporary TMX map and lets Tiled's
// TMX reader read it; saving lets Tiled's TMX writer write a temporary map and
// runs `boardtool import --force`, which replaces the board atomically. The
// mapping between the two formats lives in boardtool alone: this file only
// joins the two programs.
//
// "Preview in groundview" (Map menu, Ctrl+Shift+G) shows any open map in a
// viewer of its own that follows every edit before it is saved: the map as
// it is in memory is written with Tiled's TMX writer into a private
// temporary folder, and `groundview --watch` shows each new version.
//
// Traps of Tiled 1.8's scripting, for whoever changes this file:
// - An exception while this file loads (a syntax error included) is reported
//   in Tiled's console only; run without a window, Tiled stays silent and the
//   format is simply missing.
// - Only an Error object thrown from read() or write() counts as a failure; a
//   thrown string or a returned one is taken for "no map". Run without a
//   window, Tiled prints a failed read's message but not a failed write's, so
//   write() prints it itself.
// - File.remove() removes a folder with everything in it.
// - There is no setTimeout; QtQml's Timer, made with Qt.createQmlObject,
//   is the timer there is.
// - File.move() over an existing file removes it first, so a reader can
//   find no file at all in between.
// - map.regionEdited is the only edit signal: it fires for painting and
//   erasing, not for a layer shown or hidden, a tileset changed, an undo
//   or a script's edit.
// - tiled.warn() fills the Issues panel; run without a window it prints
//   nothing, so warnings also go to the console.
// - A started Process cannot say whether it still runs: waitForFinished(0)
//   answers false for a process already seen to end.

// The boardtool that copied this file here; `boardtool tiled-extension
// --install` and `cmake --install` fill it in. The viewer is looked for
// beside it. Empty: look on PATH only.
const installedBoardtool = "";

// Each board read in this session, by its absolute name: the folder its image
// names are relative to, which saving it again uses too.
const imageFolders = new Map();

function absolutePath(fileName) {
    if (FileInfo.isAbsolutePath(fileName))
        return FileInfo.cleanPath(fileName);
    return FileInfo.cleanPath(FileInfo.joinPaths(FileInfo.canonicalPath("."), fileName));
}

// A program of ours: the one beside the installed boardtool, else the one
// on PATH.
function findProgram(name) {
    const looked = [];
    if (installedBoardtool !== "") {
        const beside = FileInfo.joinPaths(FileInfo.path(installedBoardtool), name);
        if (File.exists(beside))
            return beside;
        looked.push(beside);
    }
    const path = new Process().getEnv("PATH");
    for (const folder of path.split(":")) {
        const candidate = FileInfo.joinPaths(folder === "" ? "." : folder, name);
        if (File.exists(candidate))
            return candidate;
    }
    looked.push(name + " on PATH (" + path + ")");
    throw new Error("groundview: " + name + " not found: looked for " + looked.join(" and "));
}

// Runs boardtool with `args`; returns what it printed: {out, err} (on
// stderr: its warnings). Any status but 0 is a failure: throws an Error
// holding the tool's own message. File names go after "--" in `args`, so
// that a file called -h.brd is never taken for an option.
function runBoardtool(args) {
    const program = findProgram("boardtool");
    const process = new Process();
    const status = process.exec(program, args, false);
    const out = process.readStdOut().trim();
    const said = process.readStdErr().trim();
    process.close();
    if (status === 0)
        return {out: out, err: said};
    if (said !== "")
        throw new Error(said);
    if (status < 0)
        throw new Error("groundview: " + program + " could not be run, or it crashed");
    throw new Error("groundview: " + program + " " + args.join(" ") + " failed with status " + status);
}

// What boardtool said on stderr besides its result: each warning line
// ("boardtool: warning: ...") goes to Tiled's Issues panel, and everything
// to the console, where a run without a window shows it on stderr.
function showWarnings(said) {
    if (said === "")
        return;
    for (const line of said.split("\n")) {
        if (line.startsWith("boardtool: warning: "))
            tiled.warn(line, function() {});
    }
    console.warn(said);
}

// The folder that the image names of `board` are relative to, where
// boardtool runs for it: the one found when it was read, else as boardtool
// finds it for an existing board (the folder above data/ for data\grass.bmp
// in data/test.brd), else that of the board the map came from (Save As), else
// the board's own folder.
function imageFolder(board, source) {
    if (imageFolders.has(board))
        return imageFolders.get(board);
    if (File.exists(board)) {
        const found = runBoardtool(["image-folder", "--", board]);
        showWarnings(found.err);
        if (!FileInfo.isAbsolutePath(found.out))
            throw new Error("groundview: boardtool image-folder " + board + " gave no folder: '" + found.out + "'");
        return found.out;
    }
    return imageFolders.get(source) || FileInfo.path(board);
}

// A new empty folder of our own under the system's temporary folder,
// readable by us alone (mktemp makes it with mode 0700).
function makeTemporaryFolder() {
    const process = new Process();
    const parent = process.getEnv("TMPDIR") || "/tmp";
    const status = process.exec("mktemp", ["-d", "-p", parent, "groundview-tiled-XXXXXXXXXX"], false);
    const folder = process.readStdOut().trim();
    const said = process.readStdErr().trim();
    process.close();
    if (status !== 0 || !FileInfo.isAbsolutePath(folder) || !File.exists(folder))
        throw new Error("groundview: cannot make a temporary folder in " + parent + ": " +
                        (said || "mktemp failed with status " + status));
    return folder;
}

// Runs `use(temporaryMap)` with the name of a TMX map in a new temporary
// folder, which is removed with whatever is in it afterwards.
function withTemporaryMap(board, use) {
    const folder = makeTemporaryFolder();
    try {
        return use(FileInfo.joinPaths(folder, FileInfo.completeBaseName(board) + ".tmx"));
    } finally {
        File.remove(folder);
    }
}

tiled.registerMapFormat("groundview", {
    name: "groundview board file (*.brd)",
    extension: "brd",

    read: function(fileName) {
        const board = absolutePath(fileName);
        imageFolders.delete(board);
        const folder = imageFolder(board, board);
        return withTemporaryMap(board, function(temporaryMap) {
            showWarnings(runBoardtool(["-C", folder, "export", "--", board, temporaryMap]).err);
            if (!File.exists(temporaryMap))
                throw new Error("groundview: boardtool export wrote no map for " + board);
            const map = tiled.mapFormat("tmx").read(temporaryMap);
            imageFolders.set(board, folder);
            return map;
        });
    },

    write: function(map, fileName) {
        const board = absolutePath(fileName);
        try {
            const folder = imageFolder(board, absolutePath(map.fileName));
            // Named from the folder boardtool runs in, the board puts the
            // names of new tile images there too (data/test/ for data/test.brd).
            const named = FileInfo.relativePath(folder, board);
            withTemporaryMap(board, function(temporaryMap) {
                tiled.mapFormat("tmx").write(map, temporaryMap);
                // boardtool names the map it reads, which the user knows as
                // the board being saved.
                let done;
                try {
                    done = runBoardtool(["-C", folder, "import", "--force", "--", temporaryMap, named]);
                } catch (error) {
                    throw new Error(error.message.split(temporaryMap).join(named));
                }
                // Saved only when boardtool says it wrote this board (a line
                // of its own, after the window of the map it took) and the
                // board is there: a status of 0 alone proves nothing.
                if (!done.out.split("\n").some(line => line.startsWith(named + ": ")) || !File.exists(board))
                    throw new Error("groundview: boardtool import did not write " + named + ": " +
                                    (done.out || "it printed nothing"));
                showWarnings(done.err.split(temporaryMap).join(named));
            });
        } catch (error) {
            console.error(error.message);
            throw error;
        }
    },
});

// Preview in groundview.

// One stroke is one write: the map is written once it has stayed unpainted
// this long (the events of a stroke come closer together).
const PreviewQuietMs = 50;
// What Tiled does not signal (a layer shown or hidden, a tileset changed,
// an undo) is found by writing the map this often to a scratch name and
// keeping it only when it differs from the last version written; less often
// when a look takes more than a tenth of that.
const PreviewLookMs = 250;
// A board cell is 32 world units wide, whatever the map's tile size.
const CellUnits = 32;

// Runs the viewer (the arguments after the preview's folder) for as long as
// Tiled, which started this shell, runs: when Tiled ends without closing
// its documents (killed, crashed), the viewer ends and the folder goes too.
// SIGTERM ends the viewer with it. When the viewer ends by itself the folder
// goes as well, which is how the extension learns of it: Process cannot
// tell whether a started process still runs.
const ViewerWatch = [
    'folder=$1; shift',
    '"$@" & viewer=$!',
    '(while kill -0 $PPID 2>/dev/null; do sleep 1; done; kill $viewer 2>/dev/null; rm -rf -- "$folder") &',
    'watch=$!',
    // A viewer that does not end on SIGTERM within 5 s is killed.
    'trap \'kill $watch $viewer 2>/dev/null; (sleep 5; kill -KILL $viewer) >/dev/null 2>&1 & exit 0\' TERM INT HUP',
    'wait $viewer',
    'status=$?',
    'kill $watch 2>/dev/null',
    'rm -rf -- "$folder"',
    'exit $status',
].join("\n");

// The maps being previewed: {map, folder, file, written, failed, viewer,
// quiet, look, painted}.
const previews = [];

function makeTimer(milliseconds, repeat, onTimeout) {
    const timer = Qt.createQmlObject("import QtQml 2.0; Timer {}", tiled, "groundview-timer");
    timer.interval = milliseconds;
    timer.repeat = repeat;
    timer.triggered.connect(onTimeout);
    return timer;
}

function readText(fileName) {
    const file = new TextFile(fileName, TextFile.ReadOnly);
    const text = file.readAll();
    file.close();
    return text;
}

function writeMap(preview, fileName) {
    const failed = tiled.mapFormat("tmx").write(preview.map, fileName);
    if (failed)
        throw new Error("groundview: cannot write the preview of " + (preview.map.fileName || "the map") + ": " +
                        failed);
}

// Writes the preview's map: after a stroke at once, else only when it
// differs from the version last written. Tiled's TMX writer replaces a
// file through a new one renamed over it (its "safe writing", on unless
// turned off in its preferences), so the viewer reads either the old
// version or the new one; with safe writing off it may meet a part, which
// it refuses, keeping what it showed, until the rest is there.
function writePreview(preview, painted) {
    if (!painted) {
        const started = Date.now();
        const next = FileInfo.joinPaths(preview.folder, "next.tmx");
        writeMap(preview, next);
        const text = readText(next);
        File.remove(next);
        // Looking costs Tiled at most a tenth of its time, however large
        // the map.
        preview.look.interval = Math.max(PreviewLookMs, 10 * (Date.now() - started));
        if (text === preview.written)
            return;
    }
    writeMap(preview, preview.file);
    preview.written = readText(preview.file);
}

// The board image names that a map exported from a board carries in its
// tilesets' names ("tile 0: data\water.bmp", "tile 0: data\water.bmp
// (frames 0..3, 6 ticks each)"), with forward slashes.
function exportedImageNames(map) {
    const names = [];
    for (const tileset of map.tilesets) {
        const found = /^tile [0-9]+: (.*?)(?: \(frames [^)]*\))?$/.exec(tileset.name);
        if (found)
            names.push(found[1].split("\\").join("/"));
    }
    return names;
}

// The folder the viewer runs in: for a board, the one its image names are
// relative to. A Tiled map's own paths are written relative to the preview,
// so any folder would do for them; but cells of a map exported from a board
// keep the board's image names, relative to the folder the export ran in:
// the nearest folder at or above the map's that holds them all.
function previewWorkingFolder(map, temporary) {
    if (map.fileName === "")
        return temporary;
    const name = absolutePath(map.fileName);
    if (imageFolders.has(name))
        return imageFolders.get(name);
    if (FileInfo.suffix(name).toLowerCase() === "brd" && File.exists(name))
        return imageFolder(name, name);
    const names = exportedImageNames(map);
    if (names.length > 0) {
        for (let folder = FileInfo.path(name);; folder = FileInfo.path(folder)) {
            if (names.every(function(image) { return File.exists(FileInfo.joinPaths(folder, image)); }))
                return folder;
            if (FileInfo.path(folder) === folder)
                break;
        }
    }
    return FileInfo.path(name);
}

// The world position, in units, of the centre of Tiled's view of `map`.
function viewCentre(map) {
    const view = tiled.mapEditor.currentMapView;
    const x = Math.round(view.center.x / map.tileWidth * CellUnits);
    const y = Math.round(view.center.y / map.tileHeight * CellUnits);
    return x + "," + y;
}

function viewerRunning(preview) {
    return File.exists(preview.folder);
}

// Stops following the strokes painted on the preview's map.
function forgetStrokes(preview) {
    try {
        preview.map.regionEdited.disconnect(preview.painted);
    } catch (error) {
        // The map's document is gone with its signals.
    }
}

function stopPreview(preview) {
    const index = previews.indexOf(preview);
    if (index >= 0)
        previews.splice(index, 1);
    forgetStrokes(preview);
    preview.quiet.stop();
    preview.look.stop();
    preview.quiet.destroy();
    preview.look.destroy();
    if (viewerRunning(preview)) {
        preview.viewer.terminate();
        if (!preview.viewer.waitForFinished(1000))
            preview.viewer.kill();
    }
    preview.viewer.close();
    File.remove(preview.folder);
}

// Writes the map if it changed; says once what went wrong; ends the
// preview when its viewer has ended.
function refreshPreview(preview, painted) {
    // The viewer's lines are not needed; its reasons for not showing a
    // version, or for ending, go to the Issues panel.
    preview.viewer.readStdOut();
    const said = preview.viewer.readStdErr().trim();
    if (said !== "")
        tiled.warn("groundview preview: " + said, function() {});
    if (!viewerRunning(preview)) {
        stopPreview(preview);
        return;
    }
    try {
        writePreview(preview, painted);
        preview.failed = "";
    } catch (error) {
        if (error.message !== preview.failed)
            tiled.warn(error.message, function() {});
        preview.failed = error.message;
    }
}

// Whether the preview's map is still open, following it when Tiled has
// reloaded its file into a new document (changed on disk while unmodified).
// Tiled does not always say that a document closes: after a board is saved
// through this extension, assetAboutToBeClosed is sometimes not sent when
// the document is then closed.
function followOpenMap(preview) {
    const open = tiled.openAssets;
    if (open.indexOf(preview.map) >= 0)
        return true;
    const name = preview.map.fileName;
    const same = open.filter(function(asset) { return asset.isTileMap && name !== "" && asset.fileName === name; });
    if (same.length !== 1)
        return false;
    forgetStrokes(preview);
    preview.map = same[0];
    preview.map.regionEdited.connect(preview.painted);
    return true;
}

function startPreview(map) {
    for (const preview of previews) {
        if (preview.map === map) {
            if (viewerRunning(preview))
                return;  // one viewer per map
            stopPreview(preview);
            break;
        }
    }
    const folder = makeTemporaryFolder();
    const preview = {map: map, folder: folder, file: FileInfo.joinPaths(folder, "preview.tmx"), written: null,
                     failed: ""};
    try {
        writePreview(preview, true);
        const args = ["--windowed", "--watch", "-C", previewWorkingFolder(map, folder), "--at", viewCentre(map),
                      preview.file];
        preview.viewer = new Process();
        if (!preview.viewer.start("/bin/sh", ["-c", ViewerWatch, "groundview-preview", folder,
                                              findProgram("groundview")].concat(args)))
            throw new Error("groundview: the viewer could not be started");
    } catch (error) {
        File.remove(folder);
        throw error;
    }
    preview.quiet = makeTimer(PreviewQuietMs, false, function() { refreshPreview(preview, true); });
    preview.look = makeTimer(PreviewLookMs, true, function() {
        if (!followOpenMap(preview))
            stopPreview(preview);
        else if (!preview.quiet.running)
            refreshPreview(preview, false);
    });
    preview.painted = function() { preview.quiet.restart(); };
    map.regionEdited.connect(preview.painted);
    preview.look.start();
    previews.push(preview);
}

tiled.assetAboutToBeClosed.connect(function(asset) {
    for (const preview of previews.slice())
        if (preview.map === asset)
            stopPreview(preview);
});

const previewAction = tiled.registerAction("GroundviewPreview", function() {
    const map = tiled.activeAsset;
    if (!map || !map.isTileMap) {
        tiled.alert("Open a map to preview it in groundview.", "Preview in groundview");
        return;
    }
    try {
        startPreview(map);
    } catch (error) {
        tiled.alert(error.message, "Preview in groundview");
    }
});
previewAction.text = "Preview in groundview";
previewAction.shortcut = "Ctrl+Shift+G";
// Run without a window, Tiled has no Map menu.
if (tiled.menus.indexOf("Map") >= 0)
    tiled.extendMenu("Map", [{separator: true}, {action: "GroundviewPreview"}]);
