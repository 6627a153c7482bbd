// cdp.mjs - headless Chromium on the DevTools protocol, and a static file
// server, for the web page's tests. Runs on Debian 12's node 18, whose only
// WebSocket client is the `ws` module of the node-ws package (found through
// NODE_PATH=/usr/share/nodejs, which tests/web/run sets).
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';

const WebSocket = createRequire(import.meta.url)('ws');

const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
                '.data': 'application/octet-stream' };

// Serves `dir` on 127.0.0.1 at a free port; resolves to { server, url }.
export function serve(dir) {
    const server = http.createServer((req, res) => {
        const name = decodeURIComponent(new URL(req.url, 'http://x').pathname);
        const file = path.join(dir, name === '/' ? 'index.html' : name);
        if (!file.startsWith(dir) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
            res.writeHead(404).end();
            return;
        }
        res.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
        fs.createReadStream(file).pipe(res);
    });
    return new Promise((resolve) => server.listen(0, '127.0.0.1',
        () => resolve({ server, url: `http://127.0.0.1:${server.address().port}/` })));
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// Every browser started here, ended whichever way this process ends: a
// failure, an uncaught error, process.exit, or a signal (CTest's timeout).
// Each runs in a process group of its own, so its helpers go with it.
const started = new Set();
function killGroup(proc) {
    try { process.kill(-proc.pid, 'SIGKILL'); } catch { /* already gone */ }
}
process.on('exit', () => { for (const proc of started) killGroup(proc); });
for (const [signal, number] of [['SIGINT', 2], ['SIGTERM', 15], ['SIGHUP', 1]]) {
    process.on(signal, () => {
        console.log(`stopped by ${signal}`);
        process.exit(128 + number);  // the exit handler above ends the browsers
    });
}

// The port file is written by the browser once it listens: its port on the
// first line, the browser's WebSocket path on the second. It may be seen
// before the second line is there.
function readPortFile(file) {
    let text;
    try { text = fs.readFileSync(file, 'utf8'); } catch { return null; }
    const [port, wsPath] = text.split('\n').map((l) => l.trim());
    return /^[0-9]+$/.test(port || '') && Number(port) > 0 && (wsPath || '').startsWith('/devtools/browser/')
        ? { port, wsPath } : null;
}

// Starts the browser with a fresh profile; resolves to a Browser.
export async function launch(extraFlags = []) {
    const exe = process.env.CHROMIUM || '/usr/bin/chromium-headless-shell';
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'contrail-chromium-'));
    const flags = ['--headless', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
        '--disable-background-networking', '--disable-component-update', '--disable-sync', '--disable-quic',
        '--no-first-run', '--disable-gpu-shader-disk-cache', `--user-data-dir=${profile}`,
        '--remote-debugging-port=0', '--window-size=800,600', ...extraFlags, 'about:blank'];
    const proc = spawn(exe, flags, { stdio: ['ignore', 'ignore', 'pipe'], detached: true });
    started.add(proc);
    let stderr = '';
    proc.stderr.on('data', (d) => { stderr += d; });
    const fail = (why) => {
        killGroup(proc);
        fs.rmSync(profile, { recursive: true, force: true });
        return new Error(`${exe} ${why}: ${stderr.slice(0, 2000)}`);
    };
    const portFile = path.join(profile, 'DevToolsActivePort');
    let where = null;
    for (let i = 0; i < 400 && !(where = readPortFile(portFile)); ++i) {
        if (proc.exitCode !== null) break;
        await sleep(50);
    }
    if (!where) throw fail('did not start (no complete DevToolsActivePort in 20 s)');
    const ws = new WebSocket(`ws://127.0.0.1:${where.port}${where.wsPath}`);
    try {
        await new Promise((resolve, reject) => { ws.onopen = resolve; ws.onerror = reject; });
    } catch (e) {
        throw fail(`took no DevTools connection (${e.message || e})`);
    }
    return new Browser(proc, ws, profile);
}

class Browser {
    constructor(proc, ws, profile) {
        this.proc = proc;
        this.ws = ws;
        this.profile = profile;
        this.nextId = 1;
        this.pending = new Map();
        this.listeners = [];
        ws.onmessage = (event) => {
            const msg = JSON.parse(event.data);
            if (msg.id && this.pending.has(msg.id)) {
                const { resolve, reject } = this.pending.get(msg.id);
                this.pending.delete(msg.id);
                if (msg.error) reject(new Error(JSON.stringify(msg.error)));
                else resolve(msg.result);
            } else if (msg.method) {
                for (const l of this.listeners) l(msg);
            }
        };
    }

    send(method, params = {}, sessionId = undefined) {
        const id = this.nextId++;
        this.ws.send(JSON.stringify({ id, method, params, sessionId }));
        return new Promise((resolve, reject) => this.pending.set(id, { resolve, reject }));
    }

    // A new tab; resolves to a Page that collects console errors and exceptions.
    async newPage() {
        const { targetId } = await this.send('Target.createTarget', { url: 'about:blank' });
        const { sessionId } = await this.send('Target.attachToTarget', { targetId, flatten: true });
        const page = new Page(this, sessionId, targetId);
        this.listeners.push((msg) => { if (msg.sessionId === sessionId) page.event(msg); });
        await page.send('Runtime.enable');
        await page.send('Log.enable');
        await page.send('Page.enable');
        return page;
    }

    // Asks the browser to close, and ends it (with its helpers) when it has
    // not gone within 5 s.
    async close() {
        const exited = new Promise((r) => {
            if (this.proc.exitCode !== null || this.proc.signalCode !== null) r(); else this.proc.on('exit', r);
        });
        try {
            await Promise.race([this.send('Browser.close'), sleep(5000)]);
        } catch { /* already gone */ }
        this.ws.close();
        if (await Promise.race([exited.then(() => true), sleep(5000).then(() => false)]) === false) {
            killGroup(this.proc);
            await exited;
        }
        killGroup(this.proc);  // helpers that outlived the browser itself
        started.delete(this.proc);
        fs.rmSync(this.profile, { recursive: true, force: true });
    }
}

class Page {
    constructor(browser, sessionId, targetId) {
        this.browser = browser;
        this.sessionId = sessionId;
        this.targetId = targetId;
        this.errors = [];
        this.console = [];
    }

    send(method, params = {}) { return this.browser.send(method, params, this.sessionId); }

    event(msg) {
        const p = msg.params;
        if (msg.method === 'Runtime.consoleAPICalled') {
            const text = p.args.map((a) => a.value ?? a.description ?? '').join(' ');
            this.console.push(`${p.type}: ${text}`);
            if (p.type === 'error' || p.type === 'assert') this.errors.push(`console.${p.type}: ${text}`);
        } else if (msg.method === 'Runtime.exceptionThrown') {
            const d = p.exceptionDetails;
            this.errors.push(`exception: ${d.exception?.description ?? d.text}`);
        } else if (msg.method === 'Log.entryAdded' && p.entry.level === 'error') {
            this.errors.push(`log: ${p.entry.text} ${p.entry.url ?? ''}`);
        }
    }

    async navigate(url) { await this.send('Page.navigate', { url }); }

    // Runs `source` in every document this page loads, before its own scripts.
    async addInitScript(source) { await this.send('Page.addScriptToEvaluateOnNewDocument', { source }); }

    async evaluate(expression) {
        const r = await this.send('Runtime.evaluate',
            { expression, returnByValue: true, awaitPromise: true });
        if (r.exceptionDetails) throw new Error(`evaluate failed: ${r.exceptionDetails.text}`);
        return r.result.value;
    }

    // Polls `expression` until it is truthy; resolves to its value.
    async waitFor(expression, timeoutMs, what) {
        const until = Date.now() + timeoutMs;
        for (;;) {
            const v = await this.evaluate(expression);
            if (v) return v;
            if (Date.now() > until) throw new Error(`timed out waiting for ${what || expression}`);
            await sleep(100);
        }
    }

    async click(x, y) {
        for (const type of ['mousePressed', 'mouseReleased'])
            await this.send('Input.dispatchMouseEvent', { type, x, y, button: 'left', clickCount: 1 });
    }

    async key(code, down = true, up = true) {
        const base = { windowsVirtualKeyCode: code, nativeVirtualKeyCode: code };
        if (down) await this.send('Input.dispatchKeyEvent', { type: 'rawKeyDown', ...base });
        if (up) await this.send('Input.dispatchKeyEvent', { type: 'keyUp', ...base });
    }
}
