-- Paused exact seeks for bench/hevc_seeks.py: seeks to each time of the
-- script option "times" (seconds, separated by slashes) in turn, each timed from
-- the command to the picture shown (playback-restart), then prints
-- "# mpv-seeks <ms>,<ms>,..." and quits.
local options = {times = ""}
require("mp.options").read_options(options, "benchseeks")
local times = {}
for text in string.gmatch(options.times, "[^/]+") do
    times[#times + 1] = text
end
local next = 0
local started = 0
local results = {}

local function seek_next()
    next = next + 1
    if next > #times then
        io.stdout:write("# mpv-seeks " .. table.concat(results, ",") .. "\n")
        io.stdout:flush()
        mp.command("quit")
        return
    end
    started = mp.get_time()
    mp.commandv("seek", times[next], "absolute+exact")
end

mp.register_event("playback-restart", function()
    if next > 0 then
        results[#results + 1] = string.format("%.1f", (mp.get_time() - started) * 1000)
    end
    seek_next()
end)
