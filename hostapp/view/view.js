// The live view's page: draws what orbel-host streams on /events.
//
// Two messages (hostapp/view_scene.h): "scene" names the points (segment
// joints, labelled and unlabelled markers), their subjects and the bones
// between joints; "pose" carries every point's world position, in the
// order of the scene it names by version, with the devices' texts, the
// frame rate, latency, coordinate frame and recording. Positions are in
// host units in the device's frame; a Z-up frame is turned so that its Z
// points up on screen.
//
// window.orbelView.state() answers what the page holds and draws, for
// tests and for a look from the browser's console.
(function () {
  'use strict';

  const COLORS = { joint: 0xe8ecf2, bone: 0x7fa7ff, marker: 0x4de1ff, unlabeled: 0xffb347 };
  const $ = (id) => document.getElementById(id);

  const model = {
    connected: false,
    scenes: 0,
    poses: 0,
    version: 0,
    subjects: [],
    names: [],
    kinds: [],
    subjectOf: [],
    meta: null,
    webgl: false,
    framePending: true,
  };

  // ---- drawing -------------------------------------------------------
  const scene = new THREE.Scene();
  scene.background = new THREE.Color(0x1d2025);
  const frame = new THREE.Group();  // the device's frame
  scene.add(frame);
  const camera = new THREE.PerspectiveCamera(45, window.innerWidth / window.innerHeight, 0.1, 1e6);
  camera.position.set(300, 200, 300);

  let renderer = null;
  let controls = null;
  try {
    renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
    renderer.setPixelRatio(window.devicePixelRatio || 1);
    renderer.setSize(window.innerWidth, window.innerHeight);
    document.body.insertBefore(renderer.domElement, document.body.firstChild);
    controls = new THREE.OrbitControls(camera, renderer.domElement);
    controls.addEventListener('change', requestDraw);
    model.webgl = true;
  } catch (error) {
    $('message').textContent = 'This browser cannot draw WebGL (' + error.message +
        '); the figures still follow the stream.';
  }

  let positions = new THREE.BufferAttribute(new Float32Array(0), 3);
  positions.setUsage ? positions.setUsage(THREE.DynamicDrawUsage) : (positions.dynamic = true);

  // Points are drawn as dots, not squares.
  const dot = (() => {
    const canvas = document.createElement('canvas');
    canvas.width = canvas.height = 32;
    const context = canvas.getContext('2d');
    context.fillStyle = '#fff';
    context.beginPath();
    context.arc(16, 16, 15, 0, 2 * Math.PI);
    context.fill();
    return new THREE.CanvasTexture(canvas);
  })();

  function layer(make, color, size) {
    const geometry = new THREE.BufferGeometry();
    geometry.setIndex([]);
    geometry.setAttribute('position', positions);
    const object = make === 'lines'
        ? new THREE.LineSegments(geometry, new THREE.LineBasicMaterial({ color: color }))
        : new THREE.Points(geometry, new THREE.PointsMaterial(
            { color: color, size: size, sizeAttenuation: false, map: dot, alphaTest: 0.5 }));
    object.frustumCulled = false;  // the points move every frame
    frame.add(object);
    return geometry;
  }
  const layers = {
    bones: layer('lines', COLORS.bone),
    joints: layer('points', COLORS.joint, 6),
    markers: layer('points', COLORS.marker, 7),
    unlabeled: layer('points', COLORS.unlabeled, 5),
  };
  let grid = null;

  let drawPending = false;
  function requestDraw() {
    if (drawPending || !renderer) return;
    drawPending = true;
    requestAnimationFrame(() => {
      drawPending = false;
      renderer.render(scene, camera);
    });
  }

  // The scene's middle sits in the part of the window the text leaves free.
  function fitWindow() {
    const width = window.innerWidth, height = window.innerHeight;
    camera.aspect = width / height;
    const shift = Math.min($('hud').offsetWidth + 20, width / 2) / 2;
    camera.setViewOffset(width, height, -shift, 0, width, height);
    camera.updateProjectionMatrix();
    if (renderer) renderer.setSize(width, height);
    requestDraw();
  }
  window.addEventListener('resize', fitWindow);
  fitWindow();
  window.addEventListener('keydown', (event) => {
    if (event.key === 'f' || event.key === 'F') frameAll();
  });

  // Looks at every point from the front and above, with a floor grid
  // under them at the frame's zero height.
  function frameAll() {
    const count = positions.count;
    if (count === 0) return false;
    frame.updateMatrixWorld(true);
    const box = new THREE.Box3();
    const point = new THREE.Vector3();
    for (let i = 0; i < count; ++i) {
      point.fromBufferAttribute(positions, i).applyMatrix4(frame.matrixWorld);
      if (isFinite(point.x) && isFinite(point.y) && isFinite(point.z)) box.expandByPoint(point);
    }
    if (box.isEmpty()) return false;
    fitWindow();
    const center = box.getCenter(new THREE.Vector3());
    const size = Math.max(box.getSize(new THREE.Vector3()).length(), 1e-3);
    const distance = size * 1.05;
    camera.near = distance / 1000;
    camera.far = distance * 100;
    camera.position.set(center.x + distance * 0.35, center.y + distance * 0.4,
                        center.z + distance * 0.85);
    camera.updateProjectionMatrix();
    if (controls) {
      controls.target.copy(center);
      controls.update();
    } else {
      camera.lookAt(center);
    }
    if (grid) scene.remove(grid);
    const step = Math.pow(10, Math.floor(Math.log10(size / 4)));
    const extent = Math.ceil(size * 2 / step) * step;
    grid = new THREE.GridHelper(extent, Math.round(extent / step), 0x3d4350, 0x2c3039);
    grid.position.set(center.x, 0, center.z);
    scene.add(grid);
    requestDraw();
    return true;
  }

  // ---- the stream ----------------------------------------------------
  function applyScene(message) {
    model.scenes += 1;
    model.version = message.v;
    model.subjects = message.subjects;
    model.names = message.names;
    model.kinds = message.kinds;
    model.subjectOf = message.subjectOf;
    const count = message.names.length;
    const fresh = new THREE.BufferAttribute(new Float32Array(count * 3), 3);
    fresh.setUsage ? fresh.setUsage(THREE.DynamicDrawUsage) : (fresh.dynamic = true);
    positions = fresh;
    const byKind = [[], [], []];
    message.kinds.forEach((kind, i) => byKind[kind].push(i));
    for (const name of Object.keys(layers)) layers[name].setAttribute('position', positions);
    layers.joints.setIndex(byKind[0]);
    layers.markers.setIndex(byKind[1]);
    layers.unlabeled.setIndex(byKind[2]);
    layers.bones.setIndex(message.bones);
    model.framePending = true;
    showSubjects();
  }

  function applyPose(message) {
    if (message.v !== model.version || message.p.length !== positions.array.length) return;
    model.poses += 1;
    positions.array.set(message.p);
    positions.needsUpdate = true;
    const up = message.meta.up === 'z';
    if (!model.meta || (model.meta.up === 'z') !== up) {
      frame.rotation.x = up ? -Math.PI / 2 : 0;
      model.framePending = true;
    }
    model.meta = message.meta;
    if (model.framePending && frameAll()) model.framePending = false;
    showMeta();
    requestDraw();
  }

  function connect() {
    const events = new EventSource('/events');
    events.addEventListener('open', () => {
      model.connected = true;
      $('connection').textContent = 'connected to orbel-host';
      $('connection').className = 'good';
    });
    events.addEventListener('error', () => {
      // EventSource tries again by itself; the structure comes again first.
      model.connected = false;
      $('connection').textContent = 'orbel-host does not answer; trying again';
      $('connection').className = 'bad';
    });
    events.addEventListener('scene', (event) => applyScene(JSON.parse(event.data)));
    events.addEventListener('pose', (event) => applyPose(JSON.parse(event.data)));
  }

  // ---- the text beside the view -------------------------------------
  function element(tag, text, className) {
    const node = document.createElement(tag);
    if (text !== undefined) node.textContent = text;
    if (className) node.className = className;
    return node;
  }

  function showSubjects() {
    const table = $('subjects');
    table.textContent = '';
    const counts = model.subjects.map(() => [0, 0, 0]);
    let unlabeled = 0;
    model.kinds.forEach((kind, i) => {
      const subject = model.subjectOf[i];
      if (kind === 2 || subject < 0) unlabeled += 1;
      else counts[subject][kind] += 1;
    });
    const bonesOf = model.subjects.map(() => 0);
    const bones = layers.bones.index ? layers.bones.index.array : [];
    for (let i = 0; i < bones.length; i += 2) {
      const subject = model.subjectOf[bones[i]];
      if (subject >= 0) bonesOf[subject] += 1;
    }
    const head = element('tr');
    for (const title of ['subject', 'joints', 'bones', 'markers']) head.appendChild(element('th', title));
    table.appendChild(head);
    model.subjects.forEach((name, s) => {
      const row = element('tr');
      for (const cell of [name, counts[s][0], bonesOf[s], counts[s][1]]) {
        row.appendChild(element('td', String(cell)));
      }
      table.appendChild(row);
    });
    if (unlabeled > 0) {
      const row = element('tr');
      for (const cell of ['unlabelled', '', '', unlabeled]) row.appendChild(element('td', String(cell)));
      table.appendChild(row);
    }
  }

  function showMeta() {
    const meta = model.meta;
    const devices = $('devices');
    devices.textContent = '';
    for (const device of meta.devices) {
      const box = element('div', undefined, 'device');
      box.appendChild(element('span', device.name, 'name'));
      box.appendChild(element('span', ' ' + (device.live ? 'live' : device.online ? 'online' : 'offline'),
                               device.live ? 'good' : 'muted'));
      box.appendChild(element('div', device.status));
      if (device.information) box.appendChild(element('div', device.information, 'muted'));
      devices.appendChild(box);
    }
    if (meta.devices.length === 0) devices.appendChild(element('div', 'no device in the scene', 'muted'));
    // A paused or stopped stream: the poses hold, and the rate says why.
    const still = meta.fps === 0 && meta.devices.some((device) => device.live);
    $('figures').textContent = meta.fps.toFixed(1) + ' fps' + (still ? ' (no new frames)' : '') +
        ' \u00b7 latency ' + (meta.latencyMs === null ? '-' : meta.latencyMs.toFixed(2) + ' ms') +
        ' \u00b7 ' + (meta.up === 'z' ? 'Z-Up' : 'Y-Up') + ' \u00b7 host units';
    $('recording').textContent = meta.recording
        ? '\u25cf recording take \u2018' + meta.recording.take + '\u2019 ' +
          meta.recording.seconds.toFixed(1) + ' s'
        : '';
  }

  window.orbelView = {
    state() {
      const count = (geometry) => (geometry.index ? geometry.index.count : 0);
      const meta = model.meta || {};
      return {
        connected: model.connected,
        webgl: model.webgl,
        scenes: model.scenes,
        poses: model.poses,
        up: meta.up,
        subjects: model.subjects.slice(),
        joints: count(layers.joints),
        bones: count(layers.bones) / 2,
        markers: count(layers.markers),
        unlabeled: count(layers.unlabeled),
        positions: Array.from(positions.array),
        devices: meta.devices || [],
        fps: meta.fps,
        latencyMs: meta.latencyMs,
        recording: meta.recording || null,
      };
    },
    frameAll: frameAll,
  };

  connect();
  requestDraw();
})();
