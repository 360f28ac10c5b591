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
                // Saved only when boardtool says it wrote this board and
                // the board is there: a status of 0 alone proves nothing.
                if (!done.out.startsWith(named + ": ") || !File.exists(board))
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
