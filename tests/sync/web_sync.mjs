// The page's clock for the sync test:
//   node web_sync.mjs SITE_DIR CLOCKLOG SECONDS
// Opens the page in headless Chromium (sound on, no gesture needed), starts
// the show and reads the clock every 20 ms for SECONDS, writing each reading
// to CLOCKLOG as "<real-time nanoseconds> <frames at 48 kHz> 48000" (the page's
// time origin plus performance.now(), taken with the reading), then prints the
// latencies the AudioContext reports.
import fs from 'node:fs';
import { serve, launch } from '../web/cdp.mjs';

const [siteDir, logPath, seconds] = process.argv.slice(2);
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const { server, url } = await serve(siteDir);
let browser;
let status = 0;
try {
    browser = await launch(['--autoplay-policy=no-user-gesture-required']);
    const page = await browser.newPage();
    await page.navigate(url);
    await page.waitFor("window.Module && Module.contrailStatus.state === 'waiting'", 30000, 'the title card');
    await page.click(400, 300);
    await page.waitFor('Module._contrail_page_clock() > 0', 10000, 'the music to start');
    const lines = [];
    const end = Date.now() + Number(seconds) * 1000;
    while (Date.now() < end) {
        // The clock is whole milliseconds: half of one is added back.
        const [ms, at] = await page.evaluate(
            '[Module._contrail_page_clock(), performance.timeOrigin + performance.now()]');
        lines.push(`${Math.round(at * 1e6)} ${Math.round((ms + 0.5) * 48)} 48000`);
        await sleep(20);
    }
    fs.writeFileSync(logPath, lines.join('\n') + '\n');
    const reported = await page.evaluate(
        "(() => { const c = new AudioContext(); const r = [c.baseLatency, c.outputLatency]; c.close(); return r; })()");
    console.log(`sync web: offset beside what the page reports: baseLatency ${(reported[0] * 1000).toFixed(2)} ms, ` +
        `outputLatency ${(reported[1] * 1000).toFixed(2)} ms`);
} catch (e) {
    console.log(`sync web: offset unknown: ${e.stack || e}`);
    status = 1;
} finally {
    if (browser) await browser.close();
    server.close();
}
process.exit(status);
