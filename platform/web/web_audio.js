// web_audio.js - the music on Web Audio, for web_sound.cpp.
//
// PLATFORM: a browser page with Web Audio. Each stream's MP3 is decoded whole
// by decodeAudioData (on an OfflineAudioContext, which needs no gesture); the
// page's AudioContext is made on the first gesture, when the music may start.
// A stream's position is the AudioContext's time of the sample being heard
// (getOutputTimestamp, else currentTime less outputLatency) since its source was
// started, held at 0 until it is heard; a stream whose file cannot be decoded
// keeps the page's clock (performance.now) from the same moment instead.
// When the browser suspends, interrupts or closes the context mid-show, one
// console line says so and every playing stream runs on in real time from
// the frame last heard; the same, without a line and until it moves again,
// when the context's clock stands still for a second.
// LIMITATIONS: the whole file is decoded into memory before it can play; no
// position moves before the page's first gesture.
// DEPENDENCIES: AudioContext, OfflineAudioContext, emscripten's FS.
mergeInto(LibraryManager.library, {
  $contrailAudio: {
    ctx: null,        // made on the first gesture
    gestured: false,
    streams: [],
    // Starts whatever is waiting to play once the page may make sound.
    kick: function() {
      if (!contrailAudio.gestured) return;
      contrailAudio.streams.forEach(function(s) {
        if (!s.wanted || s.started || s.stopped) return;
        if (s.buffer && contrailAudio.ctx) {
          var source = contrailAudio.ctx.createBufferSource();
          source.buffer = s.buffer;
          source.connect(contrailAudio.ctx.destination);
          source.start();
          s.source = source;
          s.base = contrailAudio.ctx.currentTime;
          s.heardAt = performance.now();
          s.started = true;
        } else if (s.failed || (s.buffer && !contrailAudio.ctx)) {
          s.perfBase = performance.now();
          s.started = true;
        }
      });
    },
    // The context's time of the sample being heard now: a line of slope 1
    // through where the output said it was over the last 250 ms (its
    // reports wobble by a render quantum), carried on to this moment, never
    // past what is rendered; else what is rendered less the output's latency.
    fit: [],
    heard: function() {
      var ctx = contrailAudio.ctx, now = performance.now();
      var ts = ctx.getOutputTimestamp ? ctx.getOutputTimestamp() : null;
      if (!ts || !(ts.contextTime > 0 && ts.performanceTime > 0))
        return ctx.currentTime - (ctx.outputLatency || ctx.baseLatency || 0);
      var fit = contrailAudio.fit, last = fit[fit.length - 1];
      if (!last || last.at !== ts.performanceTime) {
        // A report 10 ms or more off the line (a stall, a restart) starts it afresh.
        if (last && Math.abs(ts.contextTime - last.t - (ts.performanceTime - last.at) / 1000) >= 0.01)
          fit.length = 0;
        fit.push({t: ts.contextTime, at: ts.performanceTime});
        while (fit.length > 1 && ts.performanceTime - fit[0].at > 250) fit.shift();
      }
      var sum = 0;
      fit.forEach(function(r) { sum += r.t + (now - r.at) / 1000; });
      return Math.min(ctx.currentTime, sum / fit.length);
    },
    // True while the output is gone: for good once the context left
    // 'running' after it ran (the browser suspended, interrupted or closed
    // it; one console line says so), for a while when its clock has not
    // moved for a second while running.
    lost: false,
    ran: false,  // the context has been running
    lastTime: -1,
    lastMove: 0,
    gone: function() {
      var ctx = contrailAudio.ctx, now = performance.now();
      if (contrailAudio.lost) return true;
      if (!contrailAudio.ran || ctx.currentTime !== contrailAudio.lastTime) {
        contrailAudio.lastTime = ctx.currentTime;
        contrailAudio.lastMove = now;
      }
      return now - contrailAudio.lastMove > 1000;
    },
    say: function(why) {
      if (contrailAudio.lost) return;
      contrailAudio.lost = true;
      console.info('sound: the audio output has gone (' + why + '); the clock runs on in silence');
    },
    // While the output is gone the clock runs on in real time from the frame
    // last heard; should it come back, the clock follows it again once the
    // music heard catches up (never backwards).
    position: function(s) {
      if (s.stopped) return s.last;
      if (!s.started) return 0;
      var ms;
      if (s.source && contrailAudio.gone()) {
        if (!s.runOn) s.perfBase = s.heardAt - s.heardMs;
        s.runOn = true;
        ms = performance.now() - s.perfBase;
      } else if (s.source) {
        s.runOn = false;
        ms = (contrailAudio.heard() - s.base) * 1000;
        s.heardMs = ms;
        s.heardAt = performance.now();
      } else {
        ms = performance.now() - s.perfBase;
      }
      s.last = Math.max(s.last, Math.floor(ms));  // never backwards
      return s.last;
    },
  },

  // The page's first gesture: from here on the music may play.
  contrail_audio_gesture__deps: ['$contrailAudio'],
  contrail_audio_gesture: function() {
    contrailAudio.gestured = true;
    if (!contrailAudio.ctx) {
      try {
        contrailAudio.ctx = new AudioContext({sampleRate: 48000});
      } catch (e) {
        console.info('sound: no audio output (' + e.message + '); the music is silent');
      }
    }
    var ctx = contrailAudio.ctx;
    if (ctx && !ctx.onstatechange) {
      ctx.onstatechange = function() {
        if (ctx.state === 'running') contrailAudio.ran = true;
        else if (contrailAudio.ran) contrailAudio.say('the AudioContext is ' + ctx.state);
      };
      if (ctx.state === 'running') contrailAudio.ran = true;
    }
    if (ctx && ctx.state !== 'running') ctx.resume();
    contrailAudio.kick();
  },

  // Returns the stream's id; decoding goes on in the background.
  contrail_audio_open__deps: ['$contrailAudio'],
  contrail_audio_open: function(pathPtr, rate) {
    var path = UTF8ToString(pathPtr);
    var s = {path: path, buffer: null, failed: false, wanted: false, started: false, stopped: false,
             source: null, base: 0, perfBase: 0, last: 0, lengthMs: 0, runOn: false, heardMs: 0, heardAt: 0};
    var id = contrailAudio.streams.push(s) - 1;
    var fail = function(why) {
      console.info('sound: cannot play "' + path + '" (' + why + '); the clock runs in silence');
      s.failed = true;
      contrailAudio.kick();
    };
    var bytes;
    try {
      bytes = FS.readFile(path);
    } catch (e) {
      fail('no such file');
      return id;
    }
    try {
      var decoder = new OfflineAudioContext(2, 1, rate);
      decoder.decodeAudioData(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.byteLength))
        .then(function(buffer) {
          if (s.stopped) return;  // stopped while decoding: nobody will play it
          s.buffer = buffer;
          s.lengthMs = Math.floor(buffer.duration * 1000);
          contrailAudio.kick();
        }, function(e) { fail(e && e.message ? e.message : 'cannot decode'); });
    } catch (e) {
      fail(e.message);
    }
    return id;
  },

  contrail_audio_play__deps: ['$contrailAudio'],
  contrail_audio_play: function(id) {
    var s = contrailAudio.streams[id];
    if (!s || s.stopped) return;
    s.wanted = true;
    contrailAudio.kick();
  },

  contrail_audio_position__deps: ['$contrailAudio'],
  contrail_audio_position: function(id) {
    var s = contrailAudio.streams[id];
    return s ? contrailAudio.position(s) : 0;
  },

  contrail_audio_length__deps: ['$contrailAudio'],
  contrail_audio_length: function(id) {
    var s = contrailAudio.streams[id];
    return s ? s.lengthMs : 0;
  },

  // Silences the stream and holds its clock where it is.
  contrail_audio_stop__deps: ['$contrailAudio'],
  contrail_audio_stop: function(id) {
    var s = contrailAudio.streams[id];
    if (!s || s.stopped) return;
    contrailAudio.position(s);
    s.stopped = true;
    if (s.source) {
      s.source.stop();
      s.source.disconnect();
      s.source = null;
    }
    s.buffer = null;
  },
});
