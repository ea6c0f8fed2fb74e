// Speed of the reference libraries over 1,048,576 bars, for comparison with
// bench/charts/ta_bench.cpp (the same size, default periods). Prints the
// median of seven runs of each call in million bars per second.
'use strict';
const talib = require('talib');
const tulind = require('tulind');

const N = 1048576;
const o = new Array(N), h = new Array(N), l = new Array(N), c = new Array(N), v = new Array(N);
let last = 1000, seed = 7;
const rnd = () => ((seed = (seed * 1103515245 + 12345) >>> 0) / 4294967296);
for (let i = 0; i < N; i++) {
  const open = last, close = Math.max(10, open + (rnd() - 0.5) * 8);
  o[i] = open; c[i] = close;
  h[i] = Math.max(open, close) + rnd() * 3; l[i] = Math.min(open, close) - rnd() * 3;
  v[i] = 1000 + rnd() * 49000; last = close;
}

function median(f) {
  const t = [];
  for (let k = 0; k < 7; k++) {
    const s = process.hrtime.bigint();
    f();
    t.push(Number(process.hrtime.bigint() - s) / 1e9);
  }
  t.sort((a, b) => a - b);
  return t[3];
}
function ta(name, inputs, opts) {
  return () => talib.execute(Object.assign({name, startIdx: 0, endIdx: N - 1}, inputs, opts));
}
function ti(name, inputs, opts) {
  return () => tulind.indicators[name].indicator(inputs, opts, () => {});
}
const close = {inReal: c};
const hlc = {high: h, low: l, close: c};
const rows = [
  ['SMA 50', ta('SMA', close, {optInTimePeriod: 50}), ti('sma', [c], [50])],
  ['EMA 20', ta('EMA', close, {optInTimePeriod: 20}), ti('ema', [c], [20])],
  ['Bollinger 20 2', ta('BBANDS', close, {optInTimePeriod: 20, optInNbDevUp: 2, optInNbDevDn: 2, optInMAType: 0}), ti('bbands', [c], [20, 2])],
  ['RSI 14', ta('RSI', close, {optInTimePeriod: 14}), ti('rsi', [c], [14])],
  ['MACD 12 26 9', ta('MACD', close, {optInFastPeriod: 12, optInSlowPeriod: 26, optInSignalPeriod: 9}), ti('macd', [c], [12, 26, 9])],
  ['STOCH 14 3 3', ta('STOCH', hlc, {optInFastK_Period: 14, optInSlowK_Period: 3, optInSlowK_MAType: 0, optInSlowD_Period: 3, optInSlowD_MAType: 0}), ti('stoch', [h, l, c], [14, 3, 3])],
  ['STOCHF 14 3', ta('STOCHF', hlc, {optInFastK_Period: 14, optInFastD_Period: 3, optInFastD_MAType: 0}), null],
  ['STOCHRSI 14', ta('STOCHRSI', close, {optInTimePeriod: 14, optInFastK_Period: 14, optInFastD_Period: 1, optInFastD_MAType: 0}), ti('stochrsi', [c], [14])],
  ['OBV', ta('OBV', {inReal: c, volume: v}, {}), ti('obv', [c, v], [])],
  ['AD', ta('AD', {high: h, low: l, close: c, volume: v}, {}), ti('ad', [h, l, c, v], [])],
  ['ATR-like: TR then SMA 14', null, () => { tulind.indicators.tr.indicator([h, l, c], [], (e, r) => tulind.indicators.sma.indicator([r[0]], [14], () => {})); }],
  ['ROCR 20', ta('ROCR', close, {optInTimePeriod: 20}), null],
  ['APO 10 30', ta('APO', close, {optInFastPeriod: 10, optInSlowPeriod: 30, optInMAType: 0}), null],
  ['PPO 12 26', ta('PPO', close, {optInFastPeriod: 12, optInSlowPeriod: 26, optInMAType: 0}), null],
  ['PVO (vosc) 12 26', null, ti('vosc', [v], [12, 26])],
  ['SAR 0.02 0.2', ta('SAR', {high: h, low: l}, {optInAcceleration: 0.02, optInMaximum: 0.2}), ti('psar', [h, l], [0.02, 0.2])],
];
const f = (x) => x === null ? '        -' : (N / x / 1e6).toFixed(1).padStart(9);
console.log('indicator'.padEnd(26), '   TA-Lib', '    Tulip', '  (million bars/s, median of 7)');
for (const [name, a, b] of rows) console.log(name.padEnd(26), f(a ? median(a) : null), f(b ? median(b) : null));
