// Node's xmlrpc package (npm, pinned in package.json here) drives the
// headless generator on a simulated Kona board through every method, and the
// board's output is checked after a SetGen. The package writes empty strings
// as <string/>, empty arrays as <data/>, no parameters as <params/>, whole
// numbers as <int> and null as <nil/>.
//
// Usage: node node_client_test.js <orvane executable>
'use strict'
const assert = require('node:assert/strict')
const { test, before, after } = require('node:test')
const childProcess = require('node:child_process')
const dgram = require('node:dgram')
const fs = require('node:fs')
const net = require('node:net')
const os = require('node:os')
const path = require('node:path')
let xmlrpc
try {
  xmlrpc = require('xmlrpc')
} catch (e) {
  console.error('the xmlrpc package is missing: run scripts/setup-deps')
  process.exit(1)
}

const orvane = process.argv[2]
if (!orvane) {
  console.error('usage: node node_client_test.js <orvane>')
  process.exit(2)
}
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'orvane-node-'))
let gen
let client
let port

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms))

// A port nobody uses now, TCP and UDP, chosen by the system.
async function freePort () {
  for (let attempt = 0; attempt < 20; ++attempt) {
    const p = await new Promise((resolve, reject) => {
      const s = net.createServer()
      s.on('error', reject)
      s.listen(0, '127.0.0.1', () => {
        const n = s.address().port
        s.close(() => resolve(n))
      })
    })
    const udpFree = await new Promise((resolve) => {
      const u = dgram.createSocket('udp4')
      u.on('error', () => { u.close(); resolve(false) })
      u.bind(p, () => u.close(() => resolve(true)))
    })
    if (udpFree && p !== 3530) return p
  }
  throw new Error('no free port')
}

function call (method, ...params) {
  return new Promise((resolve, reject) => {
    client.methodCall(method, params, (err, value) => (err ? reject(err) : resolve(value)))
  })
}

async function faultOf (method, ...params) {
  try {
    const v = await call(method, ...params)
    return 'no fault: ' + JSON.stringify(v)
  } catch (e) {
    return e.faultString === undefined ? String(e) : e.faultString
  }
}

// The board's last frame, or null while absent.
function captured () {
  try {
    const desc = JSON.parse(fs.readFileSync(path.join(dir, 'kona-out.json'), 'utf8'))
    const raw = fs.readFileSync(path.join(dir, 'kona-out.raw'))
    return raw.length >= desc.rowBytes * desc.height ? { desc, raw } : null
  } catch (e) {
    return null
  }
}

// Cr, Y, Cb of the v210 word at a byte offset.
function v210Word (raw, at) {
  const w = raw.readUInt32LE(at)
  return [(w >>> 20) & 0x3ff, (w >>> 10) & 0x3ff, w & 0x3ff]
}

// Waits for a frame past `after` whose first word is `want`.
async function waitFrame (after, want) {
  const end = Date.now() + 15000
  let c = null
  while (Date.now() < end) {
    c = captured()
    if (c && c.desc.sequence > after && v210Word(c.raw, 0).join() === want.join()) return c
    await sleep(50)
  }
  return c
}

before(async () => {
  port = await freePort()
  const disc = await freePort()
  const env = { ...process.env, ORVANE_SIM_CAPTURE: dir, HOME: dir }
  delete env.USERPROFILE
  delete env.ORVANE_SIM_KONA
  delete env.ORVANE_SIM_DECKLINK
  const out = fs.openSync(path.join(dir, 'gen.out'), 'w')
  const err = fs.openSync(path.join(dir, 'gen.err'), 'w')
  gen = childProcess.spawn(orvane, ['--simulate', 'kona', '--headless', '--port', String(port),
    '--discovery-port', String(disc)], { env, stdio: ['ignore', out, err] })
  client = xmlrpc.createClient({ host: '127.0.0.1', port, path: '/RPC2' })
  const first = await waitFrame(0, [512, 721, 512])
  assert.ok(first, 'the first frame reached the board')
  const end = Date.now() + 15000
  for (;;) {
    try {
      await call('system.listMethods')
      break
    } catch (e) {
      if (Date.now() > end) throw e
      await sleep(50)
    }
  }
})

after(async () => {
  if (gen && gen.exitCode === null) {
    const exited = new Promise((resolve) => gen.once('exit', (code, signal) => resolve({ code, signal })))
    gen.kill('SIGTERM')
    const r = await Promise.race([exited, sleep(10000).then(() => null)])
    if (!r) gen.kill('SIGKILL')
    assert.deepEqual(r, { code: 0, signal: null }, 'the generator ends cleanly')
  }
  fs.rmSync(dir, { recursive: true, force: true })
})

test('introspection', async () => {
  assert.deepEqual(await call('system.listMethods'), ['GetGenOptions', 'GetOrvVersion', 'MMCAlias',
    'PatternOption', 'ReadEdid', 'RescanFormats', 'SetAlias', 'SetGen', 'system.listMethods',
    'system.methodHelp', 'system.multicall'])
  assert.equal(await call('system.methodHelp', 'SetAlias'),
    'Set an alias for the given structure, the current pattern and settings, or the current output settings}')
  assert.equal(await faultOf('foo'), 'foo: unknown method name')
})

test('SetGen with an empty string member and a nil one reaches the board', async () => {
  const before = captured()
  // Style "" is the default style (SMPTE bars); 50% brightness: Y 64 + 876 / 2.
  const id = await call('SetGen', { Pattern: 'Colorbars', Style: '', Brightness: 50, Gone: null })
  assert.equal(typeof id, 'number')
  assert.notEqual(id, -1)
  let c = await waitFrame(before ? before.desc.sequence : 0, [512, 502, 512])
  assert.equal(c.desc.layout, 'v210')
  assert.deepEqual([c.desc.width, c.desc.height], [1920, 1080])
  assert.deepEqual(v210Word(c.raw, 0), [512, 502, 512])
  // SMPTE bars: the bottom row holds other things than the grey bar.
  assert.notDeepEqual(v210Word(c.raw, (c.desc.height - 1) * c.desc.rowBytes), [512, 502, 512])

  assert.equal(await call('SetGen', { Pattern: 'Colorbars', Style: 'fullfield', Brightness: 50 }), id + 1)
  c = await waitFrame(c.desc.sequence, [512, 502, 512])
  assert.deepEqual(v210Word(c.raw, (c.desc.height - 1) * c.desc.rowBytes), [512, 502, 512], 'full field')

  assert.equal(await call('SetGen', 'Colorbars'), id + 2)
  assert.equal(await call('SetGen'), 'bad parameters', '<params/>')
  assert.equal(await call('SetGen', null), 'bad parameters', 'a nil parameter is no parameter')
  assert.equal(await call('SetGen', 7), -1)
  assert.equal(await faultOf('SetGen', { Log: 5 }), 'type error')
  assert.equal(await call('SetGen', { Log: 'Reset' }), 'Not Redirected')
})

test('PatternOption and GetGenOptions', async () => {
  const list = await call('PatternOption')
  assert.match(list.Colorbars, /^\$Revision: [\d.]+ \$$/)
  assert.deepEqual(await call('PatternOption', null), list)
  const opts = await call('PatternOption', 'Colorbars')
  assert.deepEqual(opts.map((o) => o.Name), ['Style', 'Brightness'])
  assert.deepEqual(await call('PatternOption', { Pattern: 'Colorbars' }), opts)
  assert.equal(await call('PatternOption', 'NoSuch'), 'error')
  const gen = await call('GetGenOptions')
  assert.ok(Array.isArray(gen))
  assert.equal(gen.filter((s) => 'VideoFormat' in s && 'GateRed' in s).length, 1)
  for (const s of gen) assert.ok(Object.values(s).every((v) => typeof v === 'string'))
})

test('aliases and folders', async () => {
  assert.equal(await call('SetAlias', { AliasName: 'node/a', Pattern: 'Colorbars', Style: 'fullfield', Note: '' }),
    'node/a', 'an empty option no longer makes the struct unreadable')
  assert.equal((await call('PatternOption'))['node/a'], 'Alias/Colorbars')
  assert.equal(await call('SetAlias', { Pattern: 'Colorbars' }), 'no name for alias')
  assert.equal(await call('SetAlias', 'x'), 'bad datatype for alias')
  assert.equal(await call('MMCAlias', { Prefix: 'node', Path: 'flush' }), 'flushed node/ aliases')
  assert.equal((await call('PatternOption'))['node/a'], undefined)
  assert.equal(await call('MMCAlias', 'flush'), 'flushed mmc aliases')
  assert.equal(await call('MMCAlias', { Prefix: '', Path: 'flush' }), 'invalid arguments')
  assert.equal(await call('MMCAlias', dir), '')
})

test('version, EDID and formats', async () => {
  const v = await call('GetOrvVersion')
  assert.equal(v.length, 1)
  assert.deepEqual(Object.keys(v[0]).sort(), ['Application', 'Gateware', 'OS', 'Software'])
  assert.equal(v[0].Software, '317')
  assert.equal(v[0].OS, 'Windows [Unknown]')
  assert.ok(v[0].Gateware.length > 0)
  const edid = await call('ReadEdid')
  assert.ok(Buffer.isBuffer(edid), 'base64 arrives as bytes')
  assert.deepEqual([...edid], [4, 3, 2, 1])
  assert.equal(await call('RescanFormats'), 'Ok')
})

test('system.multicall with empty params runs every call', async () => {
  const first = await call('SetGen', 'Colorbars')
  const r = await call('system.multicall', [
    { methodName: 'RescanFormats', params: [] },
    { methodName: 'GetOrvVersion', params: [] },
    { methodName: 'SetGen', params: [{ Pattern: 'Colorbars', Style: '' }] },
    { methodName: 'SetGen', params: ['Colorbars'] }
  ])
  assert.equal(r.length, 4)
  assert.deepEqual(r[0], ['Ok'])
  assert.equal(r[1][0][0].Software, '317')
  assert.deepEqual([r[2][0], r[3][0]], [first + 1, first + 2])
})
