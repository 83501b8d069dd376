'use strict';
// The wallboard: polls /api/board (with the page's own filters) and draws
// it. Every name from the ACD servers goes into the page as text
// (textContent), never as markup.
(function () {
  const query = location.search;
  const params = new URLSearchParams(query);
  if (params.get('screen') === 'wall') document.body.classList.add('wall');
  let etag = null;
  let interval = 2000;
  let databaseProblem = '';

  function element(tag, className, text) {
    const made = document.createElement(tag);
    if (className) made.className = className;
    if (text !== undefined) made.textContent = text;
    return made;
  }

  function duration(seconds) {
    if (seconds === null || seconds === undefined) return '–';
    const whole = Math.max(0, Math.round(seconds));
    const two = (n) => String(n).padStart(2, '0');
    const hours = Math.floor(whole / 3600);
    const minutes = Math.floor((whole % 3600) / 60);
    const rest = whole % 60;
    return hours > 0 ? hours + ':' + two(minutes) + ':' + two(rest) : minutes + ':' + two(rest);
  }

  function figure(kind, label, value, flagged) {
    const box = element('div', 'figure ' + kind + (flagged ? ' ' + flagged : ''));
    box.dataset.figure = kind;
    box.append(element('span', 'value', (flagged ? '▲ ' : '') + value), element('span', 'label', label));
    return box;
  }

  function drawGroup(data, group) {
    const card = element('section', 'group');
    card.dataset.server = group.server;
    card.dataset.group = group.group;
    const alert = group.below_target || group.over_wait_limit;
    if (alert) card.classList.add('alert');
    const head = element('h2');
    head.append(element('span', 'mark', alert ? '⚠' : ''), element('span', 'name', group.group),
                element('span', 'server', group.server));
    const level = group.service_level === null ? '–' : group.service_level + ' %';
    const figures = element('div', 'figures');
    figures.append(
        figure('waiting', 'waiting', String(group.waiting)),
        figure('longest_wait', 'longest wait', duration(group.longest_wait),
               group.over_wait_limit ? 'over' : ''),
        figure('offered', 'offered today', String(group.offered)),
        figure('answered', 'answered', String(group.answered)),
        figure('abandoned', 'abandoned', String(group.abandoned)),
        figure('service_level', 'service level (target ' + data.limits.service_level_target + ' %)',
               level, group.below_target ? 'below' : ''),
        figure('average_wait', 'average wait', duration(group.average_wait)));
    const states = element('ul', 'states');
    for (const [name, count] of Object.entries(group.agents_by_state)) {
      const item = element('li');
      item.append(element('span', 'state-name', name), element('span', 'state-count', String(count)));
      states.append(item);
    }
    card.append(head, figures, states);
    return card;
  }

  function draw(data) {
    const groups = document.getElementById('groups');
    groups.replaceChildren(...data.groups.map((group) => drawGroup(data, group)));
    document.getElementById('empty').hidden = data.groups.length > 0;
    const rows = data.agents.map((agent) => {
      const row = element('tr', 'state-' + agent.state_code);
      const inState = agent.since > 0 ? duration(data.time - agent.since) : '–';
      for (const text of [agent.server, agent.agent, agent.name, agent.group, agent.state, inState,
                          String(agent.answered)]) {
        row.append(element('td', null, text));
      }
      return row;
    });
    document.getElementById('agent-rows').replaceChildren(...rows);
    document.getElementById('agent-count').textContent = String(data.agents.length);
    document.getElementById('clock').textContent = data.clock;
    interval = data.limits.refresh_seconds * 1000;
    databaseProblem = data.database.reachable ? '' :
        'Database unreachable since ' + data.database.unreachable_since_clock;
    showState(databaseProblem);
  }

  function showState(problem) {
    document.body.classList.toggle('stale', problem !== '');
    document.getElementById('status').textContent = problem;
  }

  async function poll() {
    try {
      const response = await fetch('/api/board' + query, {
        cache: 'no-store',
        headers: etag ? {'If-None-Match': etag} : {},
      });
      if (response.status === 200) {
        const data = await response.json();
        etag = response.headers.get('ETag');
        draw(data);
      } else if (response.status === 304) {
        showState(databaseProblem);
      } else {
        showState('Board answers ' + response.status);
      }
    } catch (failure) {
      showState('Board unreachable');
    }
    setTimeout(poll, interval);
  }

  poll();
})();
