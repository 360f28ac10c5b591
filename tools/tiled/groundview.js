// groundview board files (*.brd) open and save in Tiled like its own maps.
// Opening runs `boardtool export` into a temporary TMX map and lets Tiled's
// TMX reader read it; saving lets Tiled's TMX writer write a temporary map and
// runs `boardtool import --force`, which replaces the board atomically. The
// mapping between the two formats lives in boardtool alone: this file only
// joins the two programs.
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

// The boardtool that copied this file here; `boardtool tiled-extension
// --install` and `cmake --install` fill it in. Empty: look on PATH only.
const installedBoardtool = "";

// Each board read in this session, by its absolute name: the folder its image
// names are relative to, which saving it again uses too.
const imageFolders = new Map();

function absolutePath(fileName) {
    if (FileInfo.isAbsolutePath(fileName))
        return FileInfo.cleanPath(fileName);
    return FileInfo.cleanPath(FileInfo.joinPaths(FileInfo.canonicalPath("."), fileName));
}

function findBoardtool() {
    const looked = [];
    if (installedBoardtool !== "") {
        if (File.exists(installedBoardtool))
            return installedBoardtool;
        looked.push(installedBoardtool);
    }
    const path = new Process().getEnv("PATH");
    for (const folder of path.split(":")) {
        const candidate = FileInfo.joinPaths(folder === "" ? "." : folder, "boardtool");
        if (File.exists(candidate))
            return candidate;
    }
    looked.push("boardtool on PATH (" + path + ")");
    throw new Error("groundview: boardtool not found: looked for " + looked.join(" and "));
}

// Runs `boardtool -C folder ...args`; returns what it printed on stderr (its
// warnings) or throws an Error holding the tool's own message.
function runBoardtool(folder, args) {
    const program = findBoardtool();
    const process = new Process();
    const status = process.exec(program, ["-C", folder].concat(args), false);
    const said = process.readStdErr().trim();
    if (status === 0)
        return said;
    if (said !== "")
        throw new Error(said);
    if (status < 0)
        throw new Error("groundview: " + program + " could not be run, or it crashed");
    throw new Error("groundview: " + program + " " + args[0] + " failed with status " + status);
}

// A new empty folder of our own under the system's temporary folder.
function makeTemporaryFolder() {
    const process = new Process();
    const parent = process.getEnv("TMPDIR") || "/tmp";
    for (;;) {
        const folder = FileInfo.joinPaths(parent, "groundview-tiled-" + Date.now().toString(36) + "-" +
                                                      Math.random().toString(36).slice(2));
        if (File.exists(folder))
            continue;
        if (!File.makePath(folder))
            throw new Error("groundview: cannot make the temporary folder " + folder);
        return folder;
    }
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

function showWarnings(said) {
    if (said !== "")
        console.warn(said);
}

// A board names its images relative to the folder the viewer runs in: the
// board's own folder, or one above it (data\grass.bmp for data/test.brd).
// The first of these from which boardtool finds every image is the one.
function exportBoard(board, temporaryMap) {
    let firstError = null;
    for (let folder = FileInfo.path(board);; folder = FileInfo.path(folder)) {
        try {
            showWarnings(runBoardtool(folder, ["export", board, temporaryMap]));
            return folder;
        } catch (error) {
            if (firstError === null)
                firstError = error;
        }
        if (FileInfo.path(folder) === folder)
            throw firstError;
    }
}

tiled.registerMapFormat("groundview", {
    name: "groundview board file (*.brd)",
    extension: "brd",

    read: function(fileName) {
        const board = absolutePath(fileName);
        return withTemporaryMap(board, function(temporaryMap) {
            imageFolders.set(board, exportBoard(board, temporaryMap));
            return tiled.mapFormat("tmx").read(temporaryMap);
        });
    },

    write: function(map, fileName) {
        const board = absolutePath(fileName);
        try {
            withTemporaryMap(board, function(temporaryMap) {
                tiled.mapFormat("tmx").write(map, temporaryMap);
                const folder = imageFolders.get(board) || FileInfo.path(board);
                showWarnings(runBoardtool(folder, ["import", temporaryMap, board, "--force"]));
            });
        } catch (error) {
            console.error(error.message);
            throw error;
        }
    },
});
